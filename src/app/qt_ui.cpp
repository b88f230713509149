// placeholder: filled in by the dialogs work
