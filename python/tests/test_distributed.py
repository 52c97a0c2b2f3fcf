"""Corpus runs on a Dask cluster: two worker processes on loopback, one of them killed mid-run."""

import json
import os
import signal
import subprocess
import sys

import pytest

distributed = pytest.importorskip("distributed")

from qorl_multimodal._native import _ResultsStore  # noqa: E402
from qorl_multimodal.distributed import ConverterSpec, run  # noqa: E402


def test_every_source_lands_in_the_store_once_though_a_worker_dies(gemini, image_path, tmp_path):
    gemini("gemini_caption")
    image = open(image_path, "rb").read()
    sources = []
    for number in range(200):
        path = tmp_path / f"image{number:03}.png"
        path.write_bytes(image + str(number).encode())  # bytes past the image's end: a key of its own
        sources.append(str(path))
    store = str(tmp_path / "results.db")

    with distributed.LocalCluster(n_workers=2, threads_per_worker=2, processes=True, host="127.0.0.1",
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        pids = client.run(os.getpid)
        records = []
        for record in run(ConverterSpec("caption"), sources, client=client, store=store, chunk_size=5,
                          in_flight=4, number_of_captions=2):
            records.append(record)
            if len(records) == 1:
                busy = [address for address, tasks in client.processing().items() if tasks]
                os.kill(pids[busy[0]], signal.SIGKILL)

        assert sorted(record["source"] for record in records) == sources
        assert {record["status"] for record in records} == {"done"}
        stored = _ResultsStore(store)
        assert set(stored.outcomes().items()) == {(record["key"], "done") for record in records}
        assert {stored.lookup(record["key"])["attempts"] for record in records} == {1}

        # The command line on the same store: everything is answered from it.
        manifest = tmp_path / "manifest.txt"
        manifest.write_text("# the same images\n" + "\n".join(sources) + "\n")
        again = subprocess.run(
            [sys.executable, "-m", "qorl_multimodal.distributed", "caption", "--scheduler", cluster.scheduler_address,
             "--from", str(manifest), "--store", store, "--captions", "2", "--json"],
            capture_output=True, text=True, check=True)
    lines = [json.loads(line) for line in again.stdout.splitlines()]
    assert sorted(line["source"] for line in lines) == sources
    assert all(line["cached"] for line in lines)
    assert again.stderr.endswith("200 done (200 from the store), 0 failed\n")
