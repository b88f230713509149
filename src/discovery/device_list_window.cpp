// placeholder: filled in by the subsystem that owns this file
