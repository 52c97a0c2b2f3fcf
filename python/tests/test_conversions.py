"""One conversion per converter and per transcription backend, against the fake services."""

import asyncio

from qorl_multimodal.builder import build_modality_converter
from qorl_multimodal.modality_converter.audio_to_text import (
    GeminiAudioToText, GoogleCloudAudioToText, OpenAIWhisperAudioToText, ProsaAudioToText,
    YouTubeTranscriptAudioToText)
from qorl_multimodal.modality_converter.image_to_text.image_to_caption import LMBasedImageToCaption
from qorl_multimodal.modality_converter.image_to_text.image_to_mermaid import LMBasedImageToMermaid
from qorl_multimodal.modality_converter.schema import AudioTranscript, Caption, TextResult
from qorl_multimodal.modality_converter.schema.video_caption_result import VideoCaptionMetadata
from qorl_multimodal.modality_converter.video_to_text.video_to_caption import LMBasedVideoToCaption
from qorl_multimodal.modality_transformer.image_modality_transformer import GenericImageModalityTransformer


def test_caption_from_asyncio_and_from_a_script(gemini, image_path):
    gemini("gemini_caption")
    captioner = LMBasedImageToCaption.from_preset()
    result = asyncio.run(captioner.convert(image_path, number_of_captions=2))
    assert isinstance(result, TextResult)
    assert result.result == "Sebuah bagan alir.\nDiagram dengan tiga langkah."
    assert result.tag == "caption"
    assert isinstance(result.metadata, Caption)
    assert result.metadata.number_of_captions == 2
    assert captioner.convert_sync(image_path, number_of_captions=2) == result


def test_bytes_sources_and_concurrent_captions(gemini, image_path):
    gemini("gemini_caption")
    captioner = LMBasedImageToCaption.from_preset()
    captioner.set_blocking_threads(2)  # decoding and encoding on the library's pool
    with open(image_path, "rb") as image:
        data = image.read()

    sources = [data, bytearray(data), memoryview(data)] * 3

    async def caption_all():
        return await asyncio.gather(*(captioner.convert(source) for source in sources))

    results = asyncio.run(caption_all())
    assert [r.tag for r in results] == ["caption"] * len(sources)


def test_mermaid_video_and_factory(gemini, image_path, video_path):
    gemini("gemini_mermaid")
    mermaid = LMBasedImageToMermaid.from_preset().convert_sync(image_path, diagram_type="flowchart")
    assert (mermaid.result, mermaid.tag) == ("graph TD\n  A --> B", "mermaid")

    built = build_modality_converter("image", "text", "mermaid", "lm_based")
    assert isinstance(built, LMBasedImageToMermaid)

    gemini("gemini_video")
    video = LMBasedVideoToCaption.from_preset().convert_sync(video_path)
    assert video.result.startswith("Layar berganti warna.")
    # The converter hands its metadata over as the record's dictionary, not as the record.
    assert VideoCaptionMetadata(**video.metadata).to_dict() == video.metadata
    assert video.metadata["segments"][0]["segment_caption"] == ["Biru", "Merah"]


def test_transformer_hands_the_image_to_its_converter(gemini, image_path):
    gemini("gemini_caption")
    transformer = GenericImageModalityTransformer(LMBasedImageToCaption.from_preset())
    text = asyncio.run(transformer.transform(image_path, "what is it?"))
    assert text == "Sebuah bagan alir.\nDiagram dengan tiga langkah."


def transcribe(backend, source):
    transcripts = asyncio.run(backend.convert(source))
    assert all(isinstance(t, AudioTranscript) for t in transcripts)
    return [(t.text, t.start_time, t.end_time, t.lang_id) for t in transcripts]


def test_every_transcription_backend(services, wav_path):
    whisper = OpenAIWhisperAudioToText(api_key=services["openai_key"], base_url=services["openai"])
    assert transcribe(whisper, wav_path) == [("Hello from Whisper.", 0.0, 1.5, "en")]

    google = GoogleCloudAudioToText(credentials_json=services["google_credentials"], bucket_name=services["bucket"])
    assert transcribe(google, wav_path) == [("Halo dari Google.", 0.0, 1.0, "id")]

    prosa = ProsaAudioToText(api_key=services["prosa_key"], url=services["prosa"])
    assert transcribe(prosa, wav_path) == [("halo dari prosa", 0.0, 1.0, None)]

    youtube = YouTubeTranscriptAudioToText()
    assert transcribe(youtube, services["youtube_video"]) == [("Halo dari YouTube", 0.5, 2.5, "id")]

    gemini = GeminiAudioToText(api_key=services["gemini_key"], base_url=services["gemini_audio"])
    assert transcribe(gemini, wav_path) == [("Halo dari Gemini.", 0.0, 1.5, "id")]
