"""The README's Python quick start and the typed example, run as written against the fake services."""

import os
import re
import shutil

from conftest import REPOSITORY


def quick_start():
    with open(os.path.join(REPOSITORY, "README.md"), encoding="utf-8") as readme:
        text = readme.read()
    python_section = text[text.index("\n## Python\n"):]
    return re.search(r"```python\n(.*?)```", python_section, re.S).group(1)


def test_the_quick_start_runs_as_written(services, monkeypatch, tmp_path, image_path, wav_path, capsys):
    for variable, value in {
        "GOOGLE_GEMINI_BASE_URL": services["gemini"],
        "OPENAI_API_KEY": services["openai_key"],
        "OPENAI_BASE_URL": services["openai"],
        "PROSA_API_KEY": services["prosa_key"],
        "PROSA_URL": services["prosa"],
    }.items():
        monkeypatch.setenv(variable, value)
    (tmp_path / "examples" / "media").mkdir(parents=True)
    shutil.copy(image_path, tmp_path / "examples" / "media" / "flowchart.png")
    shutil.copy(wav_path, tmp_path / "talk.wav")
    monkeypatch.chdir(tmp_path)

    names = {}
    exec(compile(quick_start(), "README.md", "exec"), names)

    printed = capsys.readouterr().out
    for said in ("Sebuah bagan alir.\nDiagram dengan tiga langkah.", "Hello from Whisper.", "Halo dari Google.",
                 "halo dari prosa", "Halo dari Gemini.", "Halo dari YouTube"):
        assert said in printed
    assert [r.tag for r in names["results"]] == ["caption"] * 3
    assert [t.text for t in names["transcript"]] == ["Hello from Whisper."]


def test_the_typed_example_runs(services, gemini, image_path, wav_path, tmp_path, capsys):
    import typed_usage

    gemini("gemini_caption")
    typed_usage.main(image_path, wav_path, api_key=services["openai_key"], base_url=services["openai"],
                     store=str(tmp_path / "results.db"))
    typed_usage.main(image_path, "no such file", api_key="sk-wrong", base_url=services["openai"],
                     store=str(tmp_path / "results.db"))
    printed = capsys.readouterr().out
    assert printed.startswith("caption ")
    assert "['Hello from Whisper.']" in printed
    assert "\nUnsupported audio source\n" in printed
    assert printed.count("\n['Sebuah bagan alir.") == 2  # the batch's captions, once per run
