"""Where the binding finds libquillo.so: $QUILLO_LIBRARY, beside the package, the loader.

Each case imports the binding in a fresh interpreter, since a process loads the library once.
"""

import os
import shutil
import subprocess
import sys

import pytest

BINDING = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILT_LIBRARY = os.environ.get("QUILLO_LIBRARY")

REPORT = ("import quillo\n"
          "try:\n"
          "    quillo.load_library()\n"
          "    print('loaded', quillo.library_path())\n"
          "except quillo.LibraryNotFound as error:\n"
          "    print('not found', error)\n")


def run(package_parent, **env):
    clean = {k: v for k, v in os.environ.items() if k not in ("QUILLO_LIBRARY", "LD_LIBRARY_PATH")}
    clean.update(env, PYTHONPATH=str(package_parent), PYTHONDONTWRITEBYTECODE="1")
    result = subprocess.run([sys.executable, "-c", REPORT], env=clean, capture_output=True,
                            text=True, timeout=60, cwd=str(package_parent))
    assert result.returncode == 0, result.stderr
    return result.stdout.strip()


@pytest.mark.skipif(not BUILT_LIBRARY, reason="QUILLO_LIBRARY does not name a built library")
def test_search_order(tmp_path):
    site = tmp_path / "site"
    shutil.copytree(os.path.join(BINDING, "quillo"), site / "quillo")
    elsewhere = tmp_path / "elsewhere"
    elsewhere.mkdir()
    shutil.copy(BUILT_LIBRARY, elsewhere / "libquillo.so")

    # Nothing beside the package and nothing on the loader's path.
    assert run(site).startswith("not found")
    # The system loader's path.
    assert run(site, LD_LIBRARY_PATH=str(elsewhere)) == f"loaded {elsewhere / 'libquillo.so'}"
    # Beside the package: in the folder that holds it, then inside it (which wins).
    shutil.copy(BUILT_LIBRARY, site / "libquillo.so")
    assert run(site, LD_LIBRARY_PATH=str(elsewhere)) == f"loaded {site / 'libquillo.so'}"
    shutil.copy(BUILT_LIBRARY, site / "quillo" / "libquillo.so")
    assert run(site) == f"loaded {site / 'quillo' / 'libquillo.so'}"
    # $QUILLO_LIBRARY overrides everything, as a file or as its folder.
    assert run(site, QUILLO_LIBRARY=str(elsewhere / "libquillo.so")) == \
        f"loaded {elsewhere / 'libquillo.so'}"
    assert run(site, QUILLO_LIBRARY=str(elsewhere)) == f"loaded {elsewhere / 'libquillo.so'}"
    # ...and is not silently passed over when it is wrong.
    missing = tmp_path / "missing" / "libquillo.so"
    out = run(site, QUILLO_LIBRARY=str(missing))
    assert out.startswith("not found") and str(missing) in out
