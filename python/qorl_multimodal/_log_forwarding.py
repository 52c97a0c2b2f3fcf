"""The library's log lines in Python's logging.

The library queues each line without the GIL; this thread takes them in batches and logs each to
``logging.getLogger(<the library logger's name>)`` at its level and time, so ``basicConfig`` and
an application's handlers and levels apply. ``QORL_LOG_LEVEL``, when set, is the library's own
floor below that.
"""

import atexit
import logging
import threading

from qorl_multimodal._native import _next_log_records, _stop_log_forwarding


def _forward() -> None:
    while (records := _next_log_records()) is not None:
        for name, level, message, created in records:
            logger = logging.getLogger(name or None)
            if not logger.isEnabledFor(level):
                continue
            record = logger.makeRecord(logger.name, level, "", 0, message, (), None)
            record.created = created
            record.msecs = (created - int(created)) * 1000
            logger.handle(record)


_thread = threading.Thread(target=_forward, name="qorl_multimodal logging", daemon=True)
_thread.start()


@atexit.register
def _stop() -> None:
    _stop_log_forwarding()
    _thread.join()
