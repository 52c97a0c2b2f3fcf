"""Modules concerning the builder utilities of QORL Multimodal modules."""

from qorl_multimodal.builder.modality_converter_builder import build_modality_converter

__all__ = ["build_modality_converter"]
