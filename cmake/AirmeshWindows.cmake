# The Windows program's folder as it ships (filled in by the packaging rules).
