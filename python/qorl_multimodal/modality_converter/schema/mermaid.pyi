from typing import Any

class Mermaid:
    diagram_type: str | None
    context: str | None
    def __init__(self, *, diagram_type: str | None = None, context: str | None = None) -> None: ...
    def to_dict(self) -> dict[str, Any]: ...
