"""Module that manage multimodality for Gen AI apllication."""

__all__ = []
