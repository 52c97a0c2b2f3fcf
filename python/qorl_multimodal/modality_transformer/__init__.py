"""Modules concerning the modality transformers used in Gen AI applications."""

__all__ = []
