"""After os.fork(), the child's quantities accept every call, whatever other threads held."""

import os
import threading
import warnings

from tolvat import LogTolvat, Tolvat


def child_status(check):
    """Forks; the child runs `check()` and exits 0 when it returns True. Returns the exit status."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)  # forking a process with threads
        pid = os.fork()
    if pid == 0:
        try:
            os._exit(0 if check() else 1)
        except BaseException:
            os._exit(2)
    _, status = os.waitpid(pid, 0)
    return os.waitstatus_to_exitcode(status)


def usable(*quantities):
    """Every quantity accepts shared and exclusive calls."""
    for q in quantities:
        q * 2  # shared
        str(q)  # exclusive
        if isinstance(q, Tolvat):
            q.simplify_inplace()
            q.as_unit(q)
        else:
            q.round_sfig(3)
    return True


class SlowText:
    """An operand that cannot be coerced: describing it (str) sleeps until told to stop."""

    def __init__(self):
        self.entered = threading.Event()
        self.leave = threading.Event()

    def __str__(self):
        self.entered.set()
        self.leave.wait()
        return "slow"


def test_a_read_held_by_another_thread_does_not_outlive_the_fork():
    q = Tolvat.unit("km/hr") * 3
    log = LogTolvat.unit("dB") * 3
    statuses = []
    for _ in range(20):
        slow = SlowText()
        readers = [threading.Thread(target=lambda x=x: _raises(x.__div__, slow)) for x in (q, log)]
        for t in readers:
            t.start()
        slow.entered.wait()
        statuses.append(child_status(lambda: usable(q, log)))
        slow.leave.set()
        for t in readers:
            t.join()
    assert statuses == [0] * 20
    assert usable(q, log)


def _raises(call, argument):
    try:
        call(argument)
    except (TypeError, RuntimeError):
        pass


def test_forks_while_threads_read_and_write_leave_usable_quantities():
    shared = Tolvat.unit("m.km/s")
    log = LogTolvat.unit("Np") * 2
    stop = threading.Event()

    def hammer(q):
        while not stop.is_set():
            for call in (str, lambda x: x * 2, lambda x: x.round_sfig(2)):
                try:
                    call(q)
                except (RuntimeError, TypeError):
                    pass  # a conflict with another thread here is expected (operators decline)

    threads = [threading.Thread(target=hammer, args=(q,)) for q in (shared, shared, log, log)]
    for t in threads:
        t.start()
    try:
        statuses = [child_status(lambda: usable(shared, log)) for _ in range(20)]
    finally:
        stop.set()
        for t in threads:
            t.join()
    assert statuses == [0] * 20
