"""What crosses the boundary between Python and the library: errors with their exact messages,
cancellation, the GIL, records and the module tree."""

import asyncio
import importlib
import logging
import threading
import time

import pytest

import qorl_core
from qorl_multimodal import _native, errors
from qorl_multimodal.builder import build_modality_converter
from qorl_multimodal.constants import Modality, ModalityConverterTask
from qorl_multimodal.modality_converter.audio_to_text import GeminiAudioToText, OpenAIWhisperAudioToText
from qorl_multimodal.modality_converter.image_to_text.image_to_caption import LMBasedImageToCaption
from qorl_multimodal.modality_converter.schema import AudioTranscript, TextResult
from qorl_multimodal.modality_converter.schema.caption import Caption
from qorl_multimodal.modality_converter.schema.video_caption_result import VideoCaptionMetadata
from qorl_multimodal.modality_transformer.image_modality_transformer import GenericImageModalityTransformer
from qorl_multimodal.utils.image_utils import get_image_binary_sync


def test_library_errors_keep_their_kind_and_message(services, gemini, wav_path):
    gemini("gemini_caption")
    captioner = LMBasedImageToCaption.from_preset()
    with pytest.raises(TypeError, match=r"^The `source` must be of type `str` or `bytes`\.$"):
        asyncio.run(captioner.convert(3))
    with pytest.raises(ValueError, match=r"^The `source` cannot be an empty string\.$"):
        captioner.convert_sync("  ")
    with pytest.raises(ValueError) as refused:
        build_modality_converter("audio", "text")
    assert str(refused.value) == "Unsupported source modality: audio. Supported: [<Modality.IMAGE: 'image'>]"
    with pytest.raises(ValueError, match=r"^Invalid preset name: fast$"):
        LMBasedImageToCaption.from_preset("fast")
    with pytest.raises(AttributeError, match=r"^'NoneType' object has no attribute 'convert'$"):
        asyncio.run(GenericImageModalityTransformer(None).transform("photo.png"))

    whisper = OpenAIWhisperAudioToText(api_key=services["openai_key"], base_url=services["openai"])
    # A refused medium is its own kind, and still the ValueError the frames name.
    with pytest.raises(errors.UnsupportedMediaError, match=r"^Unsupported audio source$") as refused_media:
        asyncio.run(whisper.convert("no such file"))
    assert isinstance(refused_media.value, ValueError)
    with pytest.raises(errors.UnsupportedMediaError, match=r"^Unsupported image format$"):
        get_image_binary_sync("no such image")
    # An outside service's error: its kind and what the service said, as data (still a
    # RuntimeError, as before), from a script and from asyncio alike.
    refused_key = OpenAIWhisperAudioToText(api_key="sk-wrong", base_url=services["openai"])
    for attempt in (lambda: refused_key.convert_sync(wav_path),
                    lambda: asyncio.run(refused_key.convert(wav_path))):
        with pytest.raises(errors.AuthenticationError) as unauthorised:
            attempt()
        assert isinstance(unauthorised.value, RuntimeError)
        assert str(unauthorised.value) == ("Error code: 401 - Incorrect API key provided. You can find your API "
                                           "key in your account settings.")
        assert (unauthorised.value.service, unauthorised.value.status_code) == ("OpenAI", 401)
        assert not unauthorised.value.retryable
    gemini_audio = GeminiAudioToText(api_key=services["gemini_key"], base_url=services["gemini_audio"])
    with pytest.raises(errors.UnsupportedMediaError, match=r"^Invalid audio source: nowhere\.$"):
        gemini_audio.convert_sync("nowhere")
    with pytest.raises(ValueError) as missing:
        asyncio.run(gemini_audio.run())
    assert str(missing.value) == ("The input kwargs for audio to text must include a non-empty `audio_source` "
                                  "key of type `str`.")


def test_a_model_services_refusals_are_told_apart_by_kind(services, wav_path):
    def failure(base_url, **options):
        backend = GeminiAudioToText(api_key=services["gemini_key"], base_url=base_url, **options)
        with pytest.raises(errors.ServiceError) as failed:
            backend.convert_sync(wav_path)
        return failed.value

    throttled = failure(services["throttled_model"])
    assert type(throttled) is errors.RateLimitError
    assert (throttled.status_code, throttled.retryable) == (429, True)
    exhausted = failure(services["exhausted_model"])
    assert isinstance(exhausted, errors.QuotaExhaustedError) and not exhausted.retryable
    assert exhausted.quota == "GenerateRequestsPerDayPerProjectPerModel-FreeTier"
    timed_out = failure(services["stalled_model"], timeout=0.3)
    assert isinstance(timed_out, errors.Timeout) and isinstance(timed_out, TimeoutError)
    assert timed_out.retryable and timed_out.status_code is None


def test_validation_error_lists_every_failing_field():
    with pytest.raises(qorl_core.ValidationError) as failed:
        AudioTranscript(text=5, start_time="soon")
    error = failed.value
    assert isinstance(error, ValueError)
    assert error.record_name == "AudioTranscript"
    assert [e["field"] for e in error.errors] == ["text", "start_time", "end_time", "lang_id"]
    assert str(error).startswith("4 validation errors for AudioTranscript\ntext\n  Input should be a valid string")
    with pytest.raises(qorl_core.ValidationError) as nested:
        VideoCaptionMetadata(video_summary="s", segments=[{"start_time": "x", "end_time": 1}])
    assert [e["field"] for e in nested.value.errors] == ["segments.0.start_time"]


def test_a_tuple_is_not_a_list_of_context_attachments(image_path):
    expected = r"^Unsupported attachments_context type: <class 'tuple'>$"
    with pytest.raises(TypeError, match=expected):
        Caption(attachments_context=(b"image",))
    captioner = LMBasedImageToCaption.from_preset()
    with pytest.raises(TypeError, match=expected):
        captioner.convert_sync(image_path, attachments_context=(b"image",))


def test_records_round_trip_through_to_dict():
    transcript = AudioTranscript(text="Halo", start_time=0, end_time="1.5", lang_id=None)
    assert transcript.to_dict() == {"text": "Halo", "start_time": 0.0, "end_time": 1.5, "lang_id": None}
    assert AudioTranscript(**transcript.to_dict()) == transcript
    assert repr(transcript) == "AudioTranscript(text='Halo', start_time=0.0, end_time=1.5, lang_id=None)"

    caption = Caption(number_of_captions="3", image_metadata={"latitude": -6.2, "longitude": 106.8})
    result = TextResult(result="a\nb", tag="caption", metadata=caption)
    assert result.metadata == caption
    assert result.to_dict()["metadata"]["number_of_captions"] == 3
    assert TextResult(**result.to_dict()) == result

    video = VideoCaptionMetadata(video_summary="s", segments=[{
        "start_time": 0, "end_time": 2, "transcripts": [transcript.to_dict()],
        "keyframes": [{"time_offset": 1, "caption": "k"}]}])
    assert VideoCaptionMetadata(**video.to_dict()).to_dict() == video.to_dict()
    assert video.segments[0]["segment_caption"] == ["k"]  # filled from the keyframes

    transcript.text = "Hai"
    assert transcript.text == "Hai"
    with pytest.raises(TypeError):
        transcript.start_time = "later"


def test_cancelling_the_task_cancels_the_conversion(services, monkeypatch, image_path):
    monkeypatch.setenv("GOOGLE_GEMINI_BASE_URL", services["stalled_model"])
    captioner = LMBasedImageToCaption.from_preset()

    async def cancel_mid_way():
        task = asyncio.create_task(captioner.convert(image_path))
        while _native._operations_in_flight() == 0:
            await asyncio.sleep(0.01)
        await asyncio.sleep(0.2)  # the request is on its way to the model
        task.cancel()
        with pytest.raises(asyncio.CancelledError):
            await task
        while _native._operations_in_flight() != 0:  # the library's side has ended too
            await asyncio.sleep(0.01)

    asyncio.run(asyncio.wait_for(cancel_mid_way(), timeout=60))


def test_other_python_threads_run_during_a_conversion(services, monkeypatch, image_path):
    monkeypatch.setenv("GOOGLE_GEMINI_BASE_URL", services["slow_model"])
    captioner = LMBasedImageToCaption.from_preset()
    counter = [0]
    stop = threading.Event()

    def count():
        while not stop.is_set():
            counter[0] += 1

    worker = threading.Thread(target=count)
    worker.start()
    try:
        before = counter[0]
        result = captioner.convert_sync(image_path)  # the model answers after 200 ms
        during = counter[0] - before
    finally:
        stop.set()
        worker.join()
    assert result.tag == "caption"
    # Holding the GIL for the whole conversion would leave the counter nearly still.
    assert during > 10000


def test_module_tree_offers_exactly_the_exports():
    schema = importlib.import_module("qorl_multimodal.modality_converter.schema")
    assert schema.__all__ == ["AudioTranscript", "Caption", "TextResult"]
    assert not hasattr(schema, "Mermaid")
    assert importlib.import_module("qorl_multimodal.modality_converter.schema.mermaid").Mermaid.__name__ == "Mermaid"
    audio = importlib.import_module("qorl_multimodal.modality_converter.audio_to_text")
    assert audio.__all__ == ["GeminiAudioToText", "GoogleCloudAudioToText", "ProsaAudioToText",
                             "OpenAIWhisperAudioToText", "YouTubeTranscriptAudioToText"]
    utils = importlib.import_module("qorl_multimodal.utils")
    assert "detect_audio_format" not in utils.__all__ and len(utils.__all__) == 16
    assert OpenAIWhisperAudioToText.__module__ == \
        "qorl_multimodal.modality_converter.audio_to_text.openai_whisper_audio_to_text"
    assert Modality.IMAGE == "image" and repr(Modality.IMAGE) == "<Modality.IMAGE: 'image'>"
    assert [m.value for m in ModalityConverterTask] == ["captioning", "mermaid", "transcript", "auto"]


def test_log_lines_reach_python_logging(gemini, caplog):
    gemini("gemini_caption")
    with caplog.at_level(logging.ERROR):
        LMBasedImageToCaption.from_preset().convert_sync("no such image")
        # Lines cross on a thread of their own; wait until this one has.
        deadline = time.monotonic() + 30
        while not [r for r in caplog.records if r.name == "LMBasedImageToCaption"] and time.monotonic() < deadline:
            time.sleep(0.01)
    [record] = [r for r in caplog.records if r.name == "LMBasedImageToCaption"]
    assert record.levelno == logging.ERROR
    assert record.getMessage().startswith("Error getting image binary: Unsupported image format")
