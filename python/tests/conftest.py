"""The fake services the tests talk to, started once per session on loopback."""

import json
import os
import subprocess
import wave
import math
import struct
import shutil

import pytest

REPOSITORY = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


@pytest.fixture(scope="session")
def services():
    program = os.environ.get("QORL_FAKE_SERVICES")
    if not program:
        pytest.skip("QORL_FAKE_SERVICES names no fake services program")
    process = subprocess.Popen([program], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        found = json.loads(process.stdout.readline())
        os.environ.update({
            "AWS_EC2_METADATA_DISABLED": "true",
            "GEMINI_API_KEY": found["gemini_key"],
            "GOOGLE_APPLICATION_CREDENTIALS": found["google_credentials"],
            "QORL_SPEECH_ENDPOINT": found["speech_endpoint"],
            "STORAGE_EMULATOR_HOST": found["storage_endpoint"],
            "QORL_YOUTUBE_BASE_URL": found["youtube"],
            "QORL_YT_DLP": found["yt_dlp"],
        })
        yield found
    finally:
        process.stdin.close()
        process.wait(timeout=30)


@pytest.fixture(scope="session")
def command():
    """The qorl-multimodal command of the same build as the fake services."""
    services = os.environ.get("QORL_FAKE_SERVICES", "")
    program = os.path.join(os.path.dirname(os.path.dirname(services)), "cli", "qorl-multimodal")
    if not os.path.exists(program):
        pytest.skip("no qorl-multimodal beside the fake services")
    return program


@pytest.fixture
def gemini(services, monkeypatch):
    """Points the Gemini presets at the fake model with the named kind of answer."""

    def use(kind):
        monkeypatch.setenv("GOOGLE_GEMINI_BASE_URL", services[kind])

    return use


@pytest.fixture(scope="session")
def image_path():
    return os.path.join(REPOSITORY, "examples", "media", "flowchart.png")


@pytest.fixture(scope="session")
def wav_path(tmp_path_factory):
    """One second of a 440 Hz tone, 16 kHz mono."""
    path = tmp_path_factory.mktemp("audio") / "tone.wav"
    with wave.open(str(path), "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(16000)
        out.writeframes(b"".join(struct.pack("<h", int(8000 * math.sin(2 * math.pi * 440 * i / 16000)))
                                 for i in range(16000)))
    return str(path)


@pytest.fixture(scope="session")
def video_path(tmp_path_factory):
    ffmpeg = shutil.which("ffmpeg")
    if not ffmpeg:
        pytest.skip("ffmpeg is missing")
    path = tmp_path_factory.mktemp("video") / "clip.mp4"
    subprocess.run([ffmpeg, "-nostdin", "-loglevel", "error", "-f", "lavfi", "-i",
                    "testsrc2=size=64x48:duration=1", "-pix_fmt", "yuv420p", str(path)], check=True)
    return str(path)
