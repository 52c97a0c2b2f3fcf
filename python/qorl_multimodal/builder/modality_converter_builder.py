"""Builds a modality converter from a modality, task and approach."""

from qorl_multimodal._native import build_modality_converter
