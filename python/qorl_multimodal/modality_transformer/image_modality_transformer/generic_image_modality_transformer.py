"""A transformer that hands an image to one fixed converter."""

from qorl_multimodal._native import GenericImageModalityTransformer

GenericImageModalityTransformer.__module__ = __name__
