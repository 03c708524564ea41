"""The paths the tests need, handed over by ctest (tests/CMakeLists.txt) through the environment."""
import os
import subprocess
from pathlib import Path

import pytest


def _environment_path(variable):
    value = os.environ.get(variable)
    if not value:
        pytest.fail(f"{variable} is not set: run these tests through ctest (ctest -R python in a build folder) "
                    f"or set {variable} as tests/CMakeLists.txt does", pytrace=False)
    path = Path(value)
    if not path.exists():
        pytest.fail(f"{variable} names {path}, which does not exist", pytrace=False)
    return path


@pytest.fixture(scope="session", autouse=True)
def library():
    """The library under test: the build's, never one found elsewhere by the package's search."""
    return _environment_path("POWDERKIT_LIBRARY")


@pytest.fixture(scope="session")
def example_data():
    """examples/data: the CIF files of the example structures."""
    return _environment_path("PK_EXAMPLE_DATA")


@pytest.fixture(scope="session")
def test_data():
    """tests/data: the independent reference tables."""
    return _environment_path("PK_TEST_DATA")


@pytest.fixture(scope="session")
def c_reference():
    """Runs the C program that makes the package's calls in C; returns its output lines."""
    program = _environment_path("PK_C_REFERENCE")

    def run(*arguments):
        done = subprocess.run([str(program), *map(str, arguments)], capture_output=True, text=True, check=False)
        assert done.returncode == 0, done.stderr
        return done.stdout.splitlines()
    return run
