"""Threads for the concurrency tests: loops started together, and one writer against users of the
same object. Every exception a thread raises, an AssertionError of a wrong result included, is
returned as a failure."""

import threading


def run_together(*targets):
    """Runs each target on a thread of its own, all released at once; returns what they raised."""
    failures = []
    barrier = threading.Barrier(len(targets))

    def run(target):
        barrier.wait()
        try:
            target()
        except Exception as exc:
            failures.append(exc)

    threads = [threading.Thread(target=run, args=(target,)) for target in targets]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return failures


def run_against_writer(write, use, users=3):
    """Calls `write` over and over on one thread while `use` runs once on each of `users` others.
    The writer takes exclusive access, so it may find the object in use ("Already borrowed");
    anything else either side raises is a failure. Returns the failures."""
    stop = threading.Event()
    writer_failures = []

    def writer():
        try:
            while not stop.is_set():
                try:
                    write()
                except RuntimeError as exc:
                    if exc.args != ("Already borrowed",):
                        raise
        except Exception as exc:
            writer_failures.append(exc)

    thread = threading.Thread(target=writer)
    thread.start()
    try:
        failures = run_together(*[use] * users)
    finally:
        stop.set()
        thread.join()
    return writer_failures + failures
