"""Corpus runs: one converter over many sources, with the command's results store.

``run`` converts up to ``jobs`` sources at a time on the library's loop and yields one record
per source as it finishes::

    async for record in batch.run(captioner, paths, store="results.db"):
        print(record["source"], record["status"], record["result"] or record["error"])

With a store, a source whose media, model and options were converted before is taken from it
(``record["cached"]`` is true) and nothing is sent; the command's ``--store`` shares the same
file and the same keys when it runs the same subcommand with the same model and options.
"""

import asyncio
from collections.abc import AsyncIterator, Iterable, Mapping
from typing import TYPE_CHECKING, Any, Literal, TypedDict

from qorl_multimodal._native import _batch_run

if TYPE_CHECKING:
    from qorl_multimodal.modality_converter.audio_to_text.audio_to_text import BaseAudioToText
    from qorl_multimodal.modality_converter.modality_converter import BaseModalityConverter


class BatchRecord(TypedDict):
    """What ``run`` yields for one source."""

    source: str
    id: str | None
    status: Literal["done", "cached", "failed", "skipped", "pending"]
    cached: bool
    key: str | None
    result: dict[str, Any] | None
    error: str | None
    error_kind: str | None
    quota_exhausted: bool  # failed because a quota ran out: not stored, a rerun converts it
    usage: dict[str, Any]
    via: str | None  # the route that made it, when there were several ("captions", "whisper")
    warnings: list[str]  # what was changed to make it sound (times fitted to the media)


_END = object()


def run(
    converter: "BaseModalityConverter | BaseAudioToText",
    sources: Iterable[str | Mapping[str, Any]],
    *,
    store: str | None = None,
    jobs: int = 8,
    retry_failed: bool = False,
    refresh: bool = False,
    model: str | None = None,
    gemini_batch: Literal["wait", "detach"] | None = None,
    **options: Any,
) -> AsyncIterator[BatchRecord]:
    """Yields a BatchRecord per source.

    ``converter`` is an image captioner, a Mermaid converter, a video captioner or a
    transcription backend (keyed as the command's ``transcribe`` keys the settings it was built
    with; it takes no ``options``). ``sources`` are texts, or dicts {"source": ..., "id": ...,
    option: value}. ``options`` go to every conversion, each source's own over them. ``model`` names the model the converter uses,
    as the command's ``--model`` does, when it is not the command's default: it is part of the
    key. Leaving the loop early cancels the conversions in flight.

    ``gemini_batch`` sends the Gemini requests through the batch mode at half the price, as the
    command's ``--batch`` ("wait") or ``--batch-detach`` ("detach": sources come back
    ``"pending"`` and a later run with the same store collects them).
    """
    return _records(converter, sources, store=store, jobs=jobs, retry_failed=retry_failed,
                    refresh=refresh, model=model, known=None, gemini_batch=gemini_batch,
                    options=options)


async def _records(converter: Any, sources: Iterable[Any], *, store: str | None, jobs: int,
                   retry_failed: bool, refresh: bool, model: str | None,
                   known: Any, options: Mapping[str, Any],
                   gemini_batch: str | None = None) -> AsyncIterator[BatchRecord]:
    """``run``'s records; ``known`` ({key: "done" or "failed"}, from a store elsewhere) reports
    those keys cached or skipped, without their result or error, instead of converting them."""
    loop = asyncio.get_running_loop()
    records: asyncio.Queue[Any] = asyncio.Queue()

    def deliver(record: BatchRecord) -> None:
        loop.call_soon_threadsafe(records.put_nowait, record)

    finished = asyncio.ensure_future(
        _batch_run(converter, sources, deliver, store=store, jobs=jobs, retry_failed=retry_failed,
                   refresh=refresh, model=model, known=known, gemini_batch=gemini_batch,
                   **options))
    finished.add_done_callback(lambda _: records.put_nowait(_END))
    try:
        while (record := await records.get()) is not _END:
            yield record
        finished.result()
    finally:
        if not finished.done():
            finished.cancel()
            try:
                await finished
            except asyncio.CancelledError:
                pass
