# Robustness targets; the commands live in scripts/fuzz.sh and
# scripts/ci-robustness.sh, which set themselves up on a fresh machine.
FUZZ_SECONDS ?= 60
FUZZ_JOBS ?= 1

.PHONY: fuzz fuzz-regress tsan valgrind ci-robustness

# Each fuzz target for FUZZ_SECONDS (FUZZ_JOBS at a time), nice'd.
fuzz:
	FUZZ_SECONDS=$(FUZZ_SECONDS) FUZZ_JOBS=$(FUZZ_JOBS) scripts/fuzz.sh run

# Every committed regression input through the sanitized fuzz binaries.
fuzz-regress:
	scripts/fuzz.sh regress

# The concurrency test under ThreadSanitizer (build-tsan/).
tsan:
	scripts/ci-robustness.sh tsan

# Decoder, component and tool tests under valgrind (build-valgrind/).
valgrind:
	scripts/ci-robustness.sh valgrind

ci-robustness:
	scripts/ci-robustness.sh all
