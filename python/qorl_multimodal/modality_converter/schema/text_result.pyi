from typing import Any

class TextResult:
    """The result of every image-to-text and video-to-text conversion."""

    result: str
    tag: str
    metadata: Any
    def __init__(self, *, result: str = "", tag: str = "", metadata: Any = None) -> None: ...
    def to_dict(self) -> dict[str, Any]: ...
