"""One writer thread against several user threads, shared by the concurrency tests."""

import threading


def run_against_writer(writer, user, stop, users=3):
    """Runs `writer` on one thread and `user` on `users` others, all at once; once the users are
    done, sets `stop` (which the writer's loop watches) and waits for the writer."""
    threads = [threading.Thread(target=writer)] + [threading.Thread(target=user) for _ in range(users)]
    for t in threads:
        t.start()
    for t in threads[1:]:
        t.join()
    stop.set()
    threads[0].join()
