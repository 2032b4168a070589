return "module a/b"
