# Shortcuts for the scripts that do the work; each one installs what it needs.
.PHONY: test demo bench

test:
	./scripts/test.sh

demo:
	./scripts/demo.sh

bench:
	./bench/scalar.sh
