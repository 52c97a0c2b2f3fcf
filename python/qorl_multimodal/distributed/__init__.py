# Dask's distributed has no annotations: calls into it are untyped.
# mypy: disallow-untyped-calls=False
"""Corpus runs spread over a Dask cluster, importable where Dask's ``distributed`` is installed.

A run is described by a ``ConverterSpec`` (what to build, never a converter: converters hold
loops, connections and credentials and are not pickled). Each worker process builds one
converter per spec and keeps it, with one event loop, for every task it runs. Sources go to the
workers in chunks; a worker runs as many chunks as it has threads, with at most ``in_flight``
conversions of them at a time, reading and keying each source where it converts it, so credentials and media access work from
every worker. Results come back chunk by chunk as they finish, and the client alone writes the
results store, as ``qorl_multimodal.batch.run`` and the command's ``--store`` do: a rerun on the
same store converts only what is missing. A chunk whose worker dies is run again by another
worker; the client records each source once.
"""

import asyncio
import dataclasses
import importlib
import json
import os
import threading
from collections.abc import Iterable, Iterator, Mapping
from typing import TYPE_CHECKING, Any

import distributed

from qorl_multimodal import batch
from qorl_multimodal._native import _KnownOutcomes, _ResultsStore, _read_manifest, _use_blocking_threads

if TYPE_CHECKING:
    from qorl_multimodal.modality_converter.audio_to_text.audio_to_text import BaseAudioToText
    from qorl_multimodal.modality_converter.modality_converter import BaseModalityConverter

__all__ = ["ConverterSpec", "SUBCOMMANDS", "read_source_list", "run"]

# The command's subcommands that corpus runs take, and the converter each builds.
SUBCOMMANDS: dict[str, str] = {
    "caption": "qorl_multimodal.modality_converter.image_to_text.image_to_caption.LMBasedImageToCaption",
    "mermaid": "qorl_multimodal.modality_converter.image_to_text.image_to_mermaid.LMBasedImageToMermaid",
    "video": "qorl_multimodal.modality_converter.video_to_text.video_to_caption.LMBasedVideoToCaption",
}


@dataclasses.dataclass(frozen=True)
class ConverterSpec:
    """How a worker builds its converter.

    ``converter`` is a subcommand of ``SUBCOMMANDS`` or a converter class's dotted path (a
    transcription backend's, say).
    ``options`` are the keyword options it is built with (its ``from_preset``'s when it has one).
    ``credentials`` name, per keyword option, the environment variable each worker reads it
    from: values are never part of it.
    """

    converter: str
    options: Mapping[str, Any] = dataclasses.field(default_factory=dict)
    credentials: Mapping[str, str] = dataclasses.field(default_factory=dict)

    def build(self) -> "BaseModalityConverter | BaseAudioToText":
        path = SUBCOMMANDS.get(self.converter, self.converter)
        module_name, _, class_name = path.rpartition(".")
        kind = getattr(importlib.import_module(module_name), class_name)
        options = dict(self.options)
        for name, variable in self.credentials.items():
            if variable not in os.environ:
                raise KeyError(f"{variable} is not set on this worker")
            options[name] = os.environ[variable]
        converter: "BaseModalityConverter | BaseAudioToText" = getattr(kind, "from_preset", kind)(**options)
        return converter

    def identity(self) -> str:
        return json.dumps(dataclasses.asdict(self), sort_keys=True, default=repr)


class _Worker:
    """What one worker process keeps across tasks: its loop, its converters, the outcomes the
    store held (converted once), and the slots that bound its conversions in flight."""

    def __init__(self) -> None:
        # A worker's CPU work gets the cores Dask gave it (its threads), not every core of the
        # machine: workers sharing a machine would otherwise each take all of it.
        _use_blocking_threads(distributed.get_worker().state.nthreads)
        self.loop = asyncio.new_event_loop()
        threading.Thread(target=self.loop.run_forever, name="qorl_multimodal worker loop", daemon=True).start()
        self.lock = threading.Lock()
        self.converters: dict[str, Any] = {}
        self.slots: dict[int, asyncio.Semaphore] = {}
        self.known: tuple[dict[str, str], Any] | None = None

    def converter(self, spec: ConverterSpec) -> Any:
        with self.lock:
            identity = spec.identity()
            if identity not in self.converters:
                self.converters[identity] = spec.build()
            return self.converters[identity]

    def slots_of(self, in_flight: int) -> asyncio.Semaphore:
        with self.lock:
            return self.slots.setdefault(in_flight, asyncio.Semaphore(in_flight))

    def known_outcomes(self, known: dict[str, str]) -> Any:
        # The scattered dict is one object per worker: its table is built for the first task only.
        with self.lock:
            if self.known is None or self.known[0] is not known:
                self.known = (known, _KnownOutcomes(known))
            return self.known[1]


_worker: _Worker | None = None
_worker_lock = threading.Lock()


def _this_worker() -> _Worker:
    global _worker
    with _worker_lock:
        if _worker is None:
            _worker = _Worker()
        return _worker


def _convert_chunk(spec: ConverterSpec, chunk: list[Any], in_flight: int, model: str | None,
                   options: dict[str, Any], known: dict[str, str]) -> list[batch.BatchRecord]:
    worker = _this_worker()
    converter = worker.converter(spec)
    slots = worker.slots_of(in_flight)
    outcomes = worker.known_outcomes(known)

    # One source at a time through a slot: the chunks a worker runs together share its slots, so a
    # chunk's last conversions never leave the others idle.
    async def convert(entry: Any) -> list[batch.BatchRecord]:
        async with slots:
            records = batch._records(converter, [entry], store=None, jobs=1, retry_failed=False, refresh=False,
                                     model=model, known=outcomes, options=options)
            return [record async for record in records]

    async def convert_all() -> list[batch.BatchRecord]:
        per_source = await asyncio.gather(*(convert(entry) for entry in chunk))
        return [record for records in per_source for record in records]

    return asyncio.run_coroutine_threadsafe(convert_all(), worker.loop).result()


def _settle(record: batch.BatchRecord, store: Any, retry_failed: bool, refresh: bool) -> batch.BatchRecord:
    """Stores a converted record, or completes one the store already answers."""
    if record["status"] in ("cached", "skipped"):
        if stored := store.lookup(record["key"]):
            record["result"], record["error"], record["error_kind"] = (
                stored["result"], stored["error"], stored["error_kind"])
    else:
        store.record(record, retry_failed=retry_failed, refresh=refresh)
    return record


def run(spec: ConverterSpec, sources: Iterable[str | Mapping[str, Any]], *, client: "distributed.Client",
        store: str, chunk_size: int = 16, in_flight: int = 8, retry_failed: bool = False,
        refresh: bool = False, model: str | None = None, **options: Any) -> Iterator[batch.BatchRecord]:
    """Converts ``sources`` on the workers of ``client`` and yields a record per source as its
    chunk finishes, each stored first in ``store``; the records and the store are those of
    ``qorl_multimodal.batch.run``, with ``model`` and ``options`` as there. A quota that runs out
    (a record's ``quota_exhausted``) ends the run after that chunk's records. Closing the
    generator early cancels the chunks not finished."""
    results = _ResultsStore(store)
    known = {} if refresh else {key: outcome for key, outcome in results.outcomes().items()
                                if not (retry_failed and outcome == "failed")}
    entries = list(sources)
    # Sent once to each worker rather than with every chunk (in a list: a dict scatters its values).
    [known_everywhere] = client.scatter([known], broadcast=True, hash=False)
    chunks = [entries[start:start + chunk_size] for start in range(0, len(entries), chunk_size)]
    pending = {client.submit(_convert_chunk, spec, chunk, in_flight, model, options, known_everywhere, pure=False)
               for chunk in chunks}
    try:
        for finished in distributed.as_completed(pending):
            # Forgotten once taken: a chunk whose worker dies later is not converted again.
            pending.discard(finished)
            records = finished.result()
            del finished
            for record in records:
                yield _settle(record, results, retry_failed, refresh)
            if any(record["quota_exhausted"] for record in records):
                return  # as the command does: nothing new starts, a rerun resumes
    finally:
        client.cancel(list(pending))


def read_source_list(path: str) -> list[str | dict[str, Any]]:
    """The sources of a list as the command reads ``--from``: one per line (blank lines and #
    comments skipped), or JSON lines with a source, an id and options."""
    return list(_read_manifest(path))
