"""A short tour of tolvat: quantities with units, and logarithmic ratios."""

from tolvat import LogTolvat, Tolvat

U = Tolvat.unit

print("-- construction")
print(U("km/hr"), "|", U("kilometre"), "|", U("N.m2/kg2"), "|", Tolvat.empty())

print("-- arithmetic (results keep the left operand's units)")
print(U("m") + U("km"), "|", U("km") + U("m"))
print((U("m") * 3) * (U("s") * 2), "|", (U("m") * 3) / (U("s") * 2), "|", (U("m") * 2) ** 2)
print(2 / (U("s") * 4), "|", U("m") * "s")

print("-- conversion")
speed = U("km/hr") * 90
print(speed, "=", speed.as_unit("m/s"), "=", speed.as_number("mi/hr"), "mph")
print((U("degree") * 180).as_unitless(), "|", (U("N") * 3).as_base_units())

print("-- temperatures (offsets apply between single units)")
room = U("degree Celsius") * 20
print(room, "=", room.as_unit("K"), "=", room.as_unit("°F"))
print(room + U("K") * 5, "(a sum counts the other side as a difference)")

print("-- simplification")
print(U("N.m.kg/J"), "|", U("m.km"), "|", (U("kg.m2/s2") * 3).simplify(), "|", U("m/km") * 5)

print("-- text forms and rounding")
g = Tolvat.constant("earth gravity")
print(str(g), "|", g.latex(), "|", g.descriptive())
print(round(U("m") * 2.5), "|", round(U("m") * 1234, -2), "|", (U("m") * 123456).round_sfig(2))

print("-- comparison (the right side is converted into the left side's units)")
print(U("km") == U("m") * 1000, U("m") < U("ft") * 2, U("m") == "m", U("m") == None)  # noqa: E711

print("-- constants and custom units")
c = Tolvat.constant("speed of light")
print(c, "|", Tolvat.constant("N_A"), "|", Tolvat.constant("gravitational constant"))
smoot = Tolvat.custom("smoot", "smt", U("m") * 1.7018)
print(smoot + U("m"), "|", (smoot * 364.4).as_unit("m"))

print("-- logarithmic ratios")
gain = LogTolvat.unit("dB") * 10
print(gain, "+", gain, "=", gain + gain, "| ratio", float(gain + gain))
print(gain + 1, "(a plain number works on the ratio)", "|", gain.as_unit(LogTolvat.unit("B")))
print(LogTolvat.unit("B") + LogTolvat.unit("dB") * 10, "| 3 dB to 3 figures:", (LogTolvat.unit("dB") * 3).round_sfig(3))
octave = LogTolvat.unit("stn") * 12
print(octave, "stands for", float(octave), "| a fifth:", float(LogTolvat.unit("semitone") * 7))
print(U("m") * (LogTolvat.unit("dB") * 20), "(a LogTolvat meets a Tolvat as its ratio)")
