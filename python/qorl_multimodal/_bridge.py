"""Awaiting the library's operations from asyncio.

The library runs its operations on an event loop of its own, on its own thread. An operation
is started when its coroutine is first awaited, so ``asyncio.run(converter.convert(...))`` works,
and settles the awaiting future through ``loop.call_soon_threadsafe``.
"""

import asyncio
from collections.abc import Callable
from typing import Any


async def run_operation(start: Callable[[asyncio.AbstractEventLoop, asyncio.Future[Any]], None]) -> Any:
    loop = asyncio.get_running_loop()
    future = loop.create_future()
    start(loop, future)
    return await future


def settle_future(future: asyncio.Future[Any], failed: bool, outcome: Any) -> None:
    if future.done():  # cancelled meanwhile
        return
    if failed and isinstance(outcome, asyncio.CancelledError):
        future.cancel()
    elif failed:
        future.set_exception(outcome)
    else:
        future.set_result(outcome)
