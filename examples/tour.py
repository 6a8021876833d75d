"""A short tour of tolvat."""

from tolvat import LogTolvat, Tolvat

print("-- construction")
km = Tolvat.unit("km")
speed = Tolvat.unit("km/hr")
print("one kilometre:", km.as_number(), "in", "km")
print("empty (dimensionless) one:", Tolvat.empty().as_number())
