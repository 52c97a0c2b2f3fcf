"""The host's inference library: attachments given to language models."""
