// Keeps the fakes library non-empty while it has no other source.
