"""Builds the extension module through CMake.

QORL_CMAKE_BUILD_DIR names a build tree already configured with -DQORL_BUILD_PYTHON=ON (the
tests' tree, say): only the module is built there. Otherwise a Release tree of its own is
configured under build/python-wheel, without tests.
"""

import os
import shutil
import subprocess
import sys

from setuptools import Extension, find_packages, setup
from setuptools.command.build_ext import build_ext

HERE = os.path.dirname(os.path.abspath(__file__))
REPOSITORY = os.path.dirname(HERE)


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build_dir = os.environ.get("QORL_CMAKE_BUILD_DIR")
        if not build_dir:
            build_dir = os.path.join(REPOSITORY, "build", "python-wheel")
            subprocess.run(["cmake", "-S", REPOSITORY, "-B", build_dir, "-G", "Ninja",
                            # GCC 12 at -O3 warns falsely about std::string copies (as in the bench preset).
                            "-DCMAKE_BUILD_TYPE=Release", "-DCMAKE_CXX_FLAGS=-Wno-restrict",
                            "-DQORL_BUILD_TESTS=OFF", "-DQORL_BUILD_PYTHON=ON",
                            f"-DPython3_EXECUTABLE={sys.executable}"], check=True)
        subprocess.run(["cmake", "--build", build_dir, "--target", "qorl_python", "-j",
                        os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")], check=True)
        built = os.path.join(build_dir, "python", "package", "qorl_multimodal", self.get_ext_filename("_native"))
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(built, target)


setup(
    packages=find_packages(HERE, include=["qorl_multimodal*", "qorl_core*", "qorl_inference*"]),
    package_dir={"": "."},
    package_data={"": ["*.pyi", "py.typed"]},
    ext_modules=[CMakeExtension("qorl_multimodal._native")],
    cmdclass={"build_ext": CMakeBuild},
)
