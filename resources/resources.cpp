// Anchor of the resource library; the resource files are added to it.
