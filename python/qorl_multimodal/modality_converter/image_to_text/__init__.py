"""Image-to-text conversion module providing OCR and captioning capabilities."""

__all__ = []
