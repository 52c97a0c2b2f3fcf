"""The library as a typed caller uses it; `mypy --strict` checks this file against the stubs."""

import asyncio

import distributed

from qorl_multimodal import batch, errors
from qorl_multimodal.batch import BatchRecord
from qorl_multimodal.distributed import ConverterSpec, read_source_list, run
from qorl_multimodal.modality_converter.audio_to_text import (
    OpenAIWhisperAudioToText, YouTubeTranscriptAudioToText)
from qorl_multimodal.modality_converter.image_to_text.image_to_caption import LMBasedImageToCaption
from qorl_multimodal.modality_converter.schema import AudioTranscript, TextResult


async def caption(image: str) -> TextResult:
    captioner = LMBasedImageToCaption.from_preset()
    return await captioner.convert(image, number_of_captions=2, language="English", use_metadata=False)


def transcribe(audio: str, *, api_key: str, base_url: str) -> list[AudioTranscript] | str:
    whisper = OpenAIWhisperAudioToText(api_key=api_key, base_url=base_url, temperature=0.2)
    try:
        return whisper.convert_sync(audio)
    except errors.AuthenticationError as refused:
        return f"{refused.service} refused the key ({refused.status_code})"
    except errors.UnsupportedMediaError as unusable:
        return str(unusable)


async def caption_all(images: list[str], store: str) -> list[BatchRecord]:
    captioner = LMBasedImageToCaption.from_preset()
    return [record async for record in batch.run(captioner, images, store=store, jobs=4, number_of_captions=1)]


async def routes_of(videos: list[str], *, api_key: str) -> dict[str, str | None]:
    """Which route transcribed each video: its captions, or Whisper where it has none."""
    youtube = YouTubeTranscriptAudioToText(
        fallback_backend=OpenAIWhisperAudioToText(api_key=api_key), translate_to="en")
    return {record["source"]: record["via"] async for record in batch.run(youtube, videos)}


def captions_of(records: list[BatchRecord]) -> list[str]:
    return [record["result"]["result"] for record in records if record["result"] is not None]


def caption_on_cluster(client: distributed.Client, manifest: str, store: str) -> dict[str, int]:
    """How many sources of each status a cluster run ended with."""
    spec = ConverterSpec("caption")  # the preset reads GEMINI_API_KEY on each worker
    counts: dict[str, int] = {}
    for record in run(spec, read_source_list(manifest), client=client, store=store, in_flight=4):
        counts[record["status"]] = counts.get(record["status"], 0) + 1
    return counts


def main(image: str, audio: str, *, api_key: str, base_url: str, store: str) -> None:
    result = asyncio.run(caption(image))
    print(result.tag, result.result)
    segments = transcribe(audio, api_key=api_key, base_url=base_url)
    print(segments if isinstance(segments, str) else [segment.text for segment in segments])
    print(captions_of(asyncio.run(caption_all([image, image], store))))
