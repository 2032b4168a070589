return "module x"
