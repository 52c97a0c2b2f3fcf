"""Video to text module."""

__all__ = []
