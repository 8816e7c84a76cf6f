# make e2e-recovery - the real program in Xvfb, killed with SIGKILL while its
#                     text is unsaved, then started again: the text must come
#                     back byte for byte (screenshots in $(BUILD)/e2e-recovery/),
#                     also after SIGTERM and after its X server is killed a
#                     second after typing; then killed at varied moments of a
#                     20 MB save: the file must hold the old text or the new
#                     one, whole (for a rewrite in place, once the program has
#                     started again); tests/e2e/test_recovery.py and
#                     test_killed_save.py

# xclip puts text on the clipboard and reads the editor's copy back.
E2E_RECOVERY_DEPS = $(E2E_PYTHON_DEPS) xclip

CI_CHECKS += e2e-recovery

.PHONY: e2e-recovery

e2e-recovery: build
	@bash scripts/install-deps $(E2E_RECOVERY_DEPS)
	$(E2E_PYTEST) tests/e2e/test_recovery.py tests/e2e/test_killed_save.py \
	    --program $(BUILD)/ide/kestoide --out $(BUILD)/e2e-recovery
