"""Shared set-up of the binding's tests.

The engine starts once per process and cannot start again after its shutdown, so every test
must run in a process of its own. CTest runs one test id per process. When a plain
``python3 -m pytest`` session selects several tests, each one is run here in a child pytest
process and its reports are replayed into this session, so the usual command works too.
"""

import json
import os
import subprocess
import sys
import tempfile

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
BINDING_ROOT = os.path.dirname(HERE)
sys.path.insert(0, BINDING_ROOT)
sys.dont_write_bytecode = True

# Set in a child process: the file its test reports are written to, one JSON line each.
_REPORTS_ENV = "QUILLO_PYTEST_REPORTS"
_CHILD_TIMEOUT_SECONDS = 300
_config = None


def pytest_configure(config):
    global _config
    _config = config


def pytest_runtest_protocol(item, nextitem):
    if os.environ.get(_REPORTS_ENV) or len(item.session.items) < 2:
        return None  # this process runs the test itself
    hook = item.ihook
    hook.pytest_runtest_logstart(nodeid=item.nodeid, location=item.location)
    with tempfile.TemporaryDirectory() as scratch:
        reports_file = os.path.join(scratch, "reports.jsonl")
        env = dict(os.environ, **{_REPORTS_ENV: reports_file}, PYTHONDONTWRITEBYTECODE="1")
        command = [sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider",
                   "--rootdir", str(item.config.rootpath), item.nodeid]
        try:
            child = subprocess.run(command, cwd=str(item.config.rootpath), env=env,
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                   timeout=_CHILD_TIMEOUT_SECONDS)
            output, code = child.stdout, child.returncode
        except subprocess.TimeoutExpired as expired:
            output, code = (expired.stdout or b"").decode(errors="replace"), "timeout"
        reports = []
        if os.path.exists(reports_file):
            with open(reports_file, encoding="utf-8") as lines:
                reports = [json.loads(line) for line in lines if line.strip()]
    for data in reports:
        if isinstance(data.get("longrepr"), list):
            data["longrepr"] = tuple(data["longrepr"])  # a skip's (path, line, reason); JSON made it a list
        report = item.config.hook.pytest_report_from_serializable(config=item.config, data=data)
        hook.pytest_runtest_logreport(report=report)
    if not any(data.get("when") == "teardown" for data in reports):
        # The child died before the test finished (a crash, a hang): say so with its output.
        hook.pytest_runtest_logreport(report=pytest.TestReport(
            item.nodeid, item.location, {}, "failed",
            f"the test's own process ended early (exit {code}):\n{output}", "call"))
    hook.pytest_runtest_logfinish(nodeid=item.nodeid, location=item.location)
    return True


def pytest_runtest_logreport(report):
    path = os.environ.get(_REPORTS_ENV)
    if not path or _config is None:
        return
    data = _config.hook.pytest_report_to_serializable(config=_config, report=report)
    with open(path, "a", encoding="utf-8") as out:
        out.write(json.dumps(data) + "\n")


@pytest.fixture(autouse=True)
def _engine_shutdown():
    """Stops the engine when a test ends, before its pixel memory can go (the WebView's, or
    the views' when the test used them)."""
    yield
    import quillo
    quillo.shutdown()
    if quillo.views.was_used():
        quillo.views.shutdown()
