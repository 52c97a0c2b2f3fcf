"""Shared vocabulary: the modality, task and approach enumerations and the fixed values used by
captioning, image handling and EXIF reading."""

import enum

from qorl_multimodal._native import CONSTANT_GROUPS, ENUMERATIONS


class _StringEnum(str, enum.Enum):
    """A member equals, hashes and prints as its text value."""

    def __str__(self):
        return self.value

    __format__ = str.__format__


def _enumeration(name, doc):
    members = _StringEnum(name, ENUMERATIONS[name], module=__name__)
    members.__doc__ = doc
    return members


def _constant_group(name, doc):
    return type(name, (), {"__doc__": doc, "__module__": __name__, **CONSTANT_GROUPS[name]})


Modality = _enumeration("Modality", "Defines supported modalities.")
ModalityConverterApproach = _enumeration("ModalityConverterApproach", "Defines supported modality converter approach types.")
ModalityConverterTask = _enumeration("ModalityConverterTask", "Defines supported modality converter tasks.")
ImageToTextConstants = _constant_group("ImageToTextConstants", "Constants for image-to-text operations in Gen AI applications.")
CaptionConstants = _constant_group("CaptionConstants", "Constants for caption operations in Gen AI applications.")
ExifConstants = _constant_group("ExifConstants", "Constants for EXIF tag operations in image metadata extraction.")
