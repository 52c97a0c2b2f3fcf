import enum

class _StringEnum(str, enum.Enum): ...

class Modality(_StringEnum):
    IMAGE = "image"
    TEXT = "text"
    AUDIO = "audio"
    VIDEO = "video"

class ModalityConverterApproach(_StringEnum):
    LM_BASED = "lm_based"
    WHISPER = "whisper"
    GEMINI = "gemini"
    GOOGLE_CLOUD = "google_cloud"
    PROSA = "prosa"
    YOUTUBE = "youtube"

class ModalityConverterTask(_StringEnum):
    CAPTIONING = "captioning"
    MERMAID = "mermaid"
    TRANSCRIPT = "transcript"
    AUTO = "auto"

class ImageToTextConstants:
    NOT_GIVEN: str
    FILENAME: str
    NO_IMAGE_FILENAME: str

class CaptionConstants:
    CAPTION_DEFAULT_JSON_KEY: str
    DOMAIN_KNOWLEDGE: str
    IMAGE_DESCRIPTION: str
    IMAGE_METADATA: str
    IMAGE_ONE_LINER: str
    NUMBER_OF_CAPTIONS: str
    ATTACHMENTS_CONTEXT: str
    DEFAULT_NUMBER_OF_CAPTIONS: int

class ExifConstants:
    GPS_LATITUDE: str
    GPS_LATITUDE_REF: str
    GPS_LONGITUDE: str
    GPS_LONGITUDE_REF: str
    GPS_SOUTH: str
    GPS_WEST: str
    LATITUDE: str
    LONGITUDE: str
