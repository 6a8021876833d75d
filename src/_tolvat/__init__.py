"""Pure-Python support code of tolvat, kept out of the `tolvat` module itself, which exposes
exactly its two classes. Nothing here is imported by `import tolvat`; the extension module and
the command line load these modules on first use."""
