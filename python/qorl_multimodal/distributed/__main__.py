"""python -m qorl_multimodal.distributed SUBCOMMAND --scheduler tcp://HOST:8786 --store PATH ...

The command's corpus runs of caption, mermaid, video and transcribe, converted on the workers of
a Dask cluster; the results store, its keys and the printed records are the command's.
"""

import argparse
import json
import sys
from typing import Any

import distributed

from qorl_multimodal.distributed import ConverterSpec, read_source_list, run

# Each subcommand's conversion options: (flag, option, type), as the command names them.
_HINTS: list[tuple[str, str, type]] = [("--one-liner", "image_one_liner", str), ("--description", "image_description", str),
          ("--domain-knowledge", "domain_knowledge", str)]
_CAPTION: list[tuple[str, str, type]] = [("--captions", "number_of_captions", int), ("--language", "language", str)]
_OPTIONS: dict[str, list[tuple[str, str, type]]] = {
    "caption": _CAPTION + _HINTS,
    "mermaid": [("--diagram-type", "diagram_type", str), ("--context", "context", str)],
    "video": [("--language", "language", str)] + _HINTS,
}


_AUDIO = "qorl_multimodal.modality_converter.audio_to_text."
# transcribe's settings (flag, type) and, per backend, the converter, the credentials each worker
# reads from its environment (as the command does) and the keyword option of each setting it reads.
_SETTINGS: list[tuple[str, type]] = [("--model", str), ("--language", str), ("--prompt", str),
                                     ("--temperature", float), ("--bucket", str), ("--url", str)]
_BACKENDS: dict[str, tuple[str, dict[str, str], dict[str, str]]] = {
    "whisper": (_AUDIO + "OpenAIWhisperAudioToText", {"api_key": "OPENAI_API_KEY"},
                {"model": "model", "language": "language", "prompt": "prompt", "temperature": "temperature",
                 "chunk": "chunk_long_audio"}),
    "google-cloud": (_AUDIO + "GoogleCloudAudioToText", {"credentials_json": "GOOGLE_APPLICATION_CREDENTIALS"},
                     {"model": "model", "language": "language_code", "bucket": "bucket_name"}),
    "prosa": (_AUDIO + "ProsaAudioToText", {"api_key": "PROSA_API_KEY"}, {"model": "model", "url": "url"}),
    "youtube": (_AUDIO + "YouTubeTranscriptAudioToText", {}, {}),
    "gemini": (_AUDIO + "GeminiAudioToText", {"api_key": "GEMINI_API_KEY"}, {"model": "model"}),
}


def spec_of(arguments: argparse.Namespace) -> tuple[ConverterSpec, dict[str, Any]]:
    """The converter spec and the conversion options the arguments ask for."""
    if arguments.subcommand != "transcribe":
        options = {option: getattr(arguments, option) for _, option, _ in _OPTIONS[arguments.subcommand]
                   if getattr(arguments, option) is not None}
        if getattr(arguments, "use_metadata", None) is False:
            options["use_metadata"] = False
        return ConverterSpec(arguments.subcommand), options
    converter, credentials, keywords = _BACKENDS[arguments.backend]
    given = {flag[2:] for flag, _ in _SETTINGS if getattr(arguments, flag[2:]) is not None}
    given |= {"chunk"} if arguments.chunk else set()
    if refused := sorted(given - set(keywords)):
        raise SystemExit(f"--{', --'.join(refused)} does not apply to --backend {arguments.backend}")
    return ConverterSpec(converter, {keywords[name]: getattr(arguments, name) for name in given}, credentials), {}


def parse(argv: list[str]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(prog="python -m qorl_multimodal.distributed",
                                     description="Corpus runs on a Dask cluster.")
    subcommands = parser.add_subparsers(dest="subcommand", required=True)
    for name in [*_OPTIONS, "transcribe"]:
        command = subcommands.add_parser(name)
        command.add_argument("sources", nargs="*", help="sources, after those of --from")
        command.add_argument("--from", dest="lists", action="append", default=[],
                             help="a list of sources, one per line or JSON lines")
        command.add_argument("--scheduler", required=True, help="the scheduler's address, tcp://HOST:8786")
        command.add_argument("--store", required=True, help="the results store (SQLite), written here")
        command.add_argument("--retry-failed", action="store_true", help="convert stored failures again")
        command.add_argument("--refresh", action="store_true", help="convert everything again")
        command.add_argument("--chunk-size", type=int, default=16, help="sources per task (default 16)")
        command.add_argument("--in-flight", type=int, default=8,
                             help="conversions at a time on each worker (default 8)")
        command.add_argument("--json", action="store_true", help="one JSON line per source")
        if name == "transcribe":
            command.add_argument("-b", "--backend", required=True, choices=list(_BACKENDS))
            for flag, kind in _SETTINGS:
                command.add_argument(flag, type=kind)
            command.add_argument("--chunk", action="store_true",
                                 help="whisper: send long audio in pieces cut in silence")
            continue
        command.add_argument("--model", help="the model, when not the preset's")
        for flag, option, kind in _OPTIONS[name]:
            command.add_argument(flag, dest=option, type=kind)
        if name == "caption":
            command.add_argument("--no-metadata", dest="use_metadata", action="store_false", default=None,
                                 help="do not send the image's EXIF location")
    return parser.parse_args(argv)


def printed(record: Any, as_json: bool) -> str:
    if as_json:
        line: dict[str, Any] = {"source": record["source"]}
        if record["result"] is not None:
            line["result"] = record["result"]
            if record["cached"]:
                line["cached"] = True
        else:
            line["error"] = record["error"]
        return json.dumps(line, ensure_ascii=False)
    result = record["result"]
    if isinstance(result, list):  # a transcript's segments
        return f"{record['source']}: " + " ".join(segment["text"] for segment in result)
    if result is not None:
        return f"{record['source']}: {result.get('result', '')}"
    return f"{record['source']}: error: {record['error']}"


def main(argv: list[str]) -> int:
    arguments = parse(argv)
    spec, options = spec_of(arguments)
    # transcribe's model is a setting of its backend, which keys it.
    model = None if arguments.subcommand == "transcribe" else arguments.model
    sources: list[Any] = [entry for path in arguments.lists for entry in read_source_list(path)]
    sources += arguments.sources
    counts = {"done": 0, "cached": 0, "failed": 0, "skipped": 0}
    quota_exhausted = False
    with distributed.Client(arguments.scheduler) as client:  # type: ignore[no-untyped-call]
        for record in run(spec, sources, client=client, store=arguments.store, chunk_size=arguments.chunk_size,
                          in_flight=arguments.in_flight, retry_failed=arguments.retry_failed,
                          refresh=arguments.refresh, model=model, **options):
            counts[record["status"]] += 1
            quota_exhausted = quota_exhausted or record["quota_exhausted"]
            print(printed(record, arguments.json), flush=True)
    print(f"{counts['done'] + counts['cached']:,} done ({counts['cached']:,} from the store), "
          f"{counts['failed'] + counts['skipped']:,} failed", file=sys.stderr)
    if quota_exhausted:
        return 75  # EX_TEMPFAIL, as the command: a rerun on the same store resumes
    return 1 if counts["failed"] or counts["skipped"] else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
