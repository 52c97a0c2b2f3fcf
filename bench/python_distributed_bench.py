#!/usr/bin/python3
"""Corpus runs on a Dask cluster on loopback, against the fake services, CPU-bound on purpose:

- captions: the fake Gemini answers at once, with the 1 MB noisy JPEG (each conversion reads,
  hashes, base64-encodes and sends it);
- whisper-m4a: the fake Whisper answers at once, with AAC recordings of --minutes each (each
  conversion decodes, resamples and FLAC-encodes the whole recording, in pieces with --chunk).

The same sources are converted locally by qorl_multimodal.batch.run in this process, by a cluster
of one worker process and by one of two, each worker with one thread and the same conversions in
flight. The local run gets one thread too, so the per-task overhead of the cluster is (one
worker's time - the local time) / tasks, like for like.

Usage (after `cmake --build --preset bench --target qorl_python qorl-fake-services`):
    PYTHONPATH=build/bench/python/package bench/python_distributed_bench.py \\
        --services build/bench/testing/qorl-fake-services --workload whisper-m4a --minutes 10
"""

import argparse
import asyncio
import json
import os
import shutil
import subprocess
import tempfile
import time


def start_services(program):
    process = subprocess.Popen([program], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    return process, json.loads(process.stdout.readline())


def distinct_copies(image_path, folder, count):
    """`count` copies of the image, each with bytes of its own past its end (a key of its own)."""
    with open(image_path, "rb") as image:
        data = image.read()
    paths = []
    for number in range(count):
        path = os.path.join(folder, f"image{number:04}.jpg")
        with open(path, "wb") as out:
            out.write(data + str(number).encode())
        paths.append(path)
    return paths


def recordings(folder, count, minutes):
    """`count` copies of one stereo 44.1 kHz AAC recording of `minutes` minutes."""
    first = os.path.join(folder, "talk0000.m4a")
    subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-f", "lavfi", "-i",
                    f"sine=frequency=300:duration={minutes * 60}", "-ac", "2", "-ar", "44100", "-c:a", "aac", first],
                   check=True)
    paths = [first]
    for number in range(1, count):
        paths.append(os.path.join(folder, f"talk{number:04}.m4a"))
        shutil.copyfile(first, paths[-1])
    return paths


# Each workload: the converter spec, and how to make its sources.
WORKLOADS = {
    "captions": lambda services, folder, args: (
        ("caption", {}, {}), distinct_copies(services["noisy_jpeg"], folder, args.sources)),
    "whisper-m4a": lambda services, folder, args: (
        ("qorl_multimodal.modality_converter.audio_to_text.OpenAIWhisperAudioToText",
         {"base_url": services["openai"], "chunk_long_audio": True}, {"api_key": "OPENAI_API_KEY"}),
        recordings(folder, args.sources, args.minutes)),
}


def local_seconds(spec, sources, in_flight):
    """Without a store: copies of one recording share a key, which a store converts once."""
    from qorl_multimodal import batch
    from qorl_multimodal._native import _use_blocking_threads

    _use_blocking_threads(1)  # as a worker of one thread

    async def convert():
        records = batch.run(spec.build(), sources, jobs=in_flight)
        return [record async for record in records]

    start = time.perf_counter()
    records = asyncio.run(convert())
    assert all(record["status"] == "done" for record in records), "a conversion failed"
    return time.perf_counter() - start


def cluster_seconds(spec, sources, store, workers, chunk_size, in_flight):
    import distributed

    from qorl_multimodal.distributed import run

    with distributed.LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, host="127.0.0.1",
                                  dashboard_address=None, silence_logs=40) as cluster, \
            distributed.Client(cluster) as client:
        client.run(lambda: __import__("qorl_multimodal.distributed"))  # workers start warm
        start = time.perf_counter()
        records = list(run(spec, sources, client=client, store=store, chunk_size=chunk_size, in_flight=in_flight))
        elapsed = time.perf_counter() - start
    assert all(record["status"] == "done" for record in records), "a conversion failed"
    return elapsed


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--services", required=True, help="the qorl-fake-services program")
    parser.add_argument("--workload", choices=list(WORKLOADS), default="captions")
    parser.add_argument("--sources", type=int, default=200)
    parser.add_argument("--minutes", type=float, default=10, help="of each recording (whisper-m4a)")
    parser.add_argument("--chunk-size", type=int, default=10)
    parser.add_argument("--in-flight", type=int, default=8)
    args = parser.parse_args()

    from qorl_multimodal.distributed import ConverterSpec

    process, services = start_services(args.services)
    folder = tempfile.mkdtemp(prefix="qorl-distributed-bench-")
    try:
        os.environ.update({"AWS_EC2_METADATA_DISABLED": "true", "GEMINI_API_KEY": services["gemini_key"],
                           "GOOGLE_GEMINI_BASE_URL": services["gemini_caption"],
                           "OPENAI_API_KEY": services["openai_key"]})
        (converter, options, credentials), sources = WORKLOADS[args.workload](services, folder, args)
        spec = ConverterSpec(converter, options, credentials)
        local = local_seconds(spec, sources, args.in_flight)
        one = cluster_seconds(spec, sources, os.path.join(folder, "one.db"), 1, args.chunk_size, args.in_flight)
        two = cluster_seconds(spec, sources, os.path.join(folder, "two.db"), 2, args.chunk_size, args.in_flight)
    finally:
        process.stdin.close()
        process.wait()
        shutil.rmtree(folder)

    chunks = -(-args.sources // args.chunk_size)
    print(f"{args.sources} {args.workload}: local {local:.2f} s; one worker {one:.2f} s; two workers {two:.2f} s")
    print(f"two workers against one: {one / two:.2f}x; per-task overhead against local: "
          f"{(one - local) / chunks * 1000:.1f} ms ({chunks} tasks of {args.chunk_size})")


if __name__ == "__main__":
    main()
