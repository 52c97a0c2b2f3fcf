"""Modules concerning multimodal in Gen AI applications."""

__all__ = []
