# The extension is the engine, the program's option checks, sound source and block driver, and
# the bindings, compiled as the project's release build compiles them: C++20, -O3, no fused
# multiply-add, no fast-math.
# Its objects go to ATTACKSCOPE_PY_BUILD (default build/python), so a second install of an
# unchanged tree compiles nothing.
import glob
import os
import subprocess

from pybind11.setup_helpers import ParallelCompile, Pybind11Extension
from setuptools import setup
from setuptools.command.build_ext import build_ext

# Python's own compile flags (-fwrapv, the stack protector, debug information, an -O level) made
# the analysis nearly twice as slow as the program's, most of it in the transform: the project's
# flags replace them.
DROPPED_FLAGS = {"-fwrapv", "-g", "-O0", "-O1", "-O2", "-O3", "-fstack-protector-strong"}


class build_ext_with_project_flags(build_ext):
    def build_extensions(self):
        self.compiler.compiler_so = [f for f in self.compiler.compiler_so if f not in DROPPED_FLAGS]
        super().build_extensions()


def pkg_config(flag, *packages):
    run = subprocess.run(["pkg-config", flag, *packages], check=True, capture_output=True,
                         text=True)
    return run.stdout.split()


libraries = [f[2:] for f in pkg_config("--libs-only-l", "sndfile", "soxr")]
library_dirs = [f[2:] for f in pkg_config("--libs-only-L", "sndfile", "soxr")]
extra_includes = [f[2:] for f in pkg_config("--cflags-only-I", "sndfile", "soxr")]

sources = ["python/src/module.cpp"]
for layer in ("dsp", "position", "engine"):
    sources += sorted(glob.glob(f"attackscope/{layer}/*.cpp"))
sources += [f"tools/attackscope/{name}.cpp" for name in ("options", "sound_source", "analyse_file")]
headers = sorted(glob.glob("attackscope/*/*.h") + glob.glob("tools/attackscope/*.h"))

# A change of these flags must rebuild the module and every object, as a header's does.
depends = [*headers, "setup.py"]
newest_header = max(os.path.getmtime(h) for h in depends)


def needs_recompile(obj, src):
    # Only what changed since the last build; every object when a header or these flags did.
    newest = max(os.path.getmtime(src), newest_header)
    return not os.path.exists(obj) or os.path.getmtime(obj) < newest


ParallelCompile("ATTACKSCOPE_PY_JOBS", default=0, needs_recompile=needs_recompile).install()

module = Pybind11Extension(
    "attackscope._attackscope",
    sources,
    depends=depends,
    include_dirs=["attackscope", "tools/attackscope", *extra_includes],
    libraries=libraries,
    library_dirs=library_dirs,
    cxx_std=20,
    extra_compile_args=["-ffp-contract=off", "-fno-fast-math", "-O3"],
)

build_base = os.environ.get("ATTACKSCOPE_PY_BUILD", "build/python")
setup(
    ext_modules=[module],
    cmdclass={"build_ext": build_ext_with_project_flags},
    options={"build": {"build_base": build_base}},
)
