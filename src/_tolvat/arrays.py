"""Support of quantities over arrays that is simplest in Python."""


def iterate(quantity):
    """The quantities along the first axis of an array quantity: float-valued quantities for a
    one-dimensional array, array quantities of one dimension less otherwise."""
    for i in range(len(quantity)):
        yield quantity[i]
