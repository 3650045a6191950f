# Demo: the console tool's help and version
run "$CLI" --help
run "$CLI" --version
