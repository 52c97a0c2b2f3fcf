"""Module that manage multimodality for Gen AI application."""

__all__ = []
