#!/usr/bin/python3
"""The Python bindings against the same fake model as BM_ConcurrentCaptions (answers after
200 ms), with the same 1 MB noisy JPEG:

- the binding's overhead: one caption at a time from asyncio, beside BM_ConcurrentCaptions/1;
- 100 captions started together with asyncio.gather, beside BM_ConcurrentCaptions/100.

Usage (after `cmake --build --preset bench --target qorl_bench qorl_python qorl-fake-services`):
    PYTHONPATH=build/bench/python/package bench/python_bindings_bench.py \\
        --services build/bench/testing/qorl-fake-services --cpp-bench build/bench/bench/qorl_bench
"""

import argparse
import asyncio
import json
import os
import statistics
import subprocess
import time


def start_services(program):
    process = subprocess.Popen([program], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    return process, json.loads(process.stdout.readline())


async def one_at_a_time(captioner, image, runs):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        result = await captioner.convert(image)
        times.append(time.perf_counter() - start)
        assert result.result, "a caption failed"
    return statistics.mean(times)


async def all_together(captioner, image, count):
    start = time.perf_counter()
    results = await asyncio.gather(*(captioner.convert(image) for _ in range(count)))
    assert all(r.result for r in results), "some captions failed"
    return time.perf_counter() - start


def cpp_figures(program):
    """Wall milliseconds of BM_ConcurrentCaptions/1 and /100, as the C++ benchmark measures them."""
    out = subprocess.run([program, "--benchmark_filter=BM_ConcurrentCaptions", "--benchmark_format=json"],
                         check=True, capture_output=True, text=True).stdout
    to_ms = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1000.0}
    runs = {b["name"].split("/")[1]: b["real_time"] * to_ms[b["time_unit"]] for b in json.loads(out)["benchmarks"]
            if b["name"].startswith("BM_ConcurrentCaptions/") and b.get("run_type") == "iteration"}
    return runs.get("1"), runs.get("100")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--services", required=True, help="the qorl-fake-services program")
    parser.add_argument("--cpp-bench", help="the qorl_bench program, for the C++ figures")
    parser.add_argument("--runs", type=int, default=20)
    args = parser.parse_args()

    process, services = start_services(args.services)
    try:
        os.environ.update({"AWS_EC2_METADATA_DISABLED": "true", "GEMINI_API_KEY": "bench-key",
                           "GOOGLE_GEMINI_BASE_URL": services["slow_model"]})
        from qorl_multimodal.modality_converter.image_to_text.image_to_caption import LMBasedImageToCaption

        captioner = LMBasedImageToCaption.from_preset()
        with open(services["noisy_jpeg"], "rb") as jpeg:
            image = jpeg.read()
        asyncio.run(one_at_a_time(captioner, image, 2))  # warm-up
        single = asyncio.run(one_at_a_time(captioner, image, args.runs))
        hundred = statistics.median([asyncio.run(all_together(captioner, image, 100)) for _ in range(3)])
    finally:
        process.stdin.close()
        process.wait()

    print(f"python: one caption {single * 1000:.1f} ms; 100 together {hundred * 1000:.0f} ms")
    if args.cpp_bench:
        cpp_single, cpp_hundred = cpp_figures(args.cpp_bench)
        print(f"c++:    one caption {cpp_single:.1f} ms; 100 together {cpp_hundred:.0f} ms")
        print(f"binding overhead per conversion: {(single * 1000 - cpp_single) / 200 * 100:.1f} % of the 200 ms model; "
              f"100 together: {hundred * 1000 / cpp_hundred:.2f}x the C++ time")


if __name__ == "__main__":
    main()
