"""Schema for video captioning results in Gen AI applications."""

from qorl_multimodal._native import Keyframe, Segment, VideoCaptionMetadata

Keyframe.__module__ = __name__
Segment.__module__ = __name__
VideoCaptionMetadata.__module__ = __name__
