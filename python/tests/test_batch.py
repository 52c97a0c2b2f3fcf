"""Corpus runs from Python: records as they finish, and a store that converts each key once."""

import asyncio
import os
import shutil
import subprocess

import pytest

from qorl_multimodal import batch
from qorl_multimodal.modality_converter.audio_to_text import OpenAIWhisperAudioToText
from qorl_multimodal.modality_converter.image_to_text.image_to_caption import LMBasedImageToCaption


def collect(converter, sources, **options):
    async def records():
        return [record async for record in batch.run(converter, sources, **options)]

    return asyncio.run(records())


def test_store_answers_a_second_run_and_the_same_bytes_under_another_name(
        gemini, image_path, tmp_path):
    gemini("gemini_caption")
    captioner = LMBasedImageToCaption.from_preset()
    copy = tmp_path / "copy.png"
    shutil.copy(image_path, copy)
    store = str(tmp_path / "results.db")
    missing = str(tmp_path / "missing.png")

    first = collect(captioner, [image_path, {"source": missing, "id": "m"}], store=store, jobs=2)
    by_source = {record["source"]: record for record in first}
    assert by_source[image_path]["status"] == "done"
    assert by_source[image_path]["result"]["tag"] == "caption"
    assert by_source[missing]["status"] == "failed"
    assert by_source[missing]["id"] == "m"
    assert by_source[missing]["error"].startswith("no caption was generated")

    again = collect(captioner, [str(copy)], store=store)
    assert [(r["status"], r["cached"]) for r in again] == [("cached", True)]
    assert again[0]["result"] == by_source[image_path]["result"]

    # Another option is another question.
    other = collect(captioner, [str(copy)], store=store, number_of_captions=2)
    assert other[0]["status"] == "done"


def test_leaving_early_cancels_the_rest(gemini, image_path):
    gemini("gemini_caption")
    captioner = LMBasedImageToCaption.from_preset()

    async def first_only():
        async for record in batch.run(captioner, [image_path] * 20, jobs=2):
            return record

    assert asyncio.run(first_only())["status"] == "done"


def test_sources_must_be_texts_or_dicts(gemini, image_path):
    gemini("gemini_caption")
    with pytest.raises(TypeError):
        collect(LMBasedImageToCaption.from_preset(), [42])


def test_a_transcription_backend_shares_the_commands_store_and_keys(services, command, wav_path, tmp_path):
    store = str(tmp_path / "results.db")
    subprocess.run([command, "transcribe", "-b", "whisper", "--language", "en", "--store", store, wav_path],
                   env={**os.environ, "OPENAI_API_KEY": services["openai_key"], "OPENAI_BASE_URL": services["openai"]},
                   check=True, capture_output=True)
    english = OpenAIWhisperAudioToText(api_key=services["openai_key"], base_url=services["openai"], language="en")
    [record] = collect(english, [wav_path], store=store)
    assert (record["status"], record["result"][0]["text"]) == ("cached", "Hello from Whisper.")
    # Another setting is another question.
    [other] = collect(OpenAIWhisperAudioToText(api_key=services["openai_key"], base_url=services["openai"]),
                      [wav_path], store=store)
    assert other["status"] == "done"
