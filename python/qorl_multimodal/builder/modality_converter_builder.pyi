from typing import Any

from qorl_multimodal.modality_converter.modality_converter import BaseModalityConverter

def build_modality_converter(
    source_modality: str,
    target_modality: str,
    task_type: str = "auto",
    approach_type: str | None = None,
    preset: str | None = None,
    **options: Any,
) -> BaseModalityConverter: ...
