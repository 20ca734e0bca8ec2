#!/usr/bin/env python3
"""Checks of the installed library: what `cmake --install` puts into a prefix, and that an
application builds and runs against that prefix alone.

    check_install.py COMMAND --source DIR --build DIR --work DIR [options]

Commands; CTest runs each as a test of its own, ordered by fixtures (tests/install):
    install    installs the build into WORK/prefix, afresh
    layout     the files of the prefix: versioned libraries, the logging back end beside
               liblogging.so, the program, exactly the public headers, the version header,
               the CMake package and the pkg-config file
    headers    compiles every installed header alone against the prefix
    examples   configures, builds and runs examples/ against the prefix; leaves the session
               the first example writes in WORK/session.ttree
    pkgconfig  builds examples/session_info with the flags of transformationtree.pc alone
    ttree      runs the installed program on that session and its demo
    python     imports the installed Python package (run path, no build tree on any path),
               reads that session with it, and has the installed ttree verify a session
               it writes
    package    makes the Debian package and checks its fields and contents
"""

import argparse
import json
import os
import re
import shlex
import shutil
import subprocess
import sys

# The shared libraries an application links, in the order of their dependencies.
LIBRARIES = ["harbor", "abacus", "prism", "lattice", "mosaic", "courier", "tidewell", "granary",
             "velmar", "logging", "transformationtree"]
BACK_END = "libNLogC.so"
BACK_END_ENTRY_POINTS = ["NLog_CSLogVW", "NLog_IsLogEnabledW", "NLog_SetGlobalDiagnosticsContextW",
                         "NLog_Flush"]
HEADER_ROOTS = ("platform", "logging", "transformationtree")
VERSION_HEADER = "transformationtree/TransformationTreeVersion.h"
EXAMPLES = ["build_session", "session_info"]
EXAMPLE_SCANS = 6
# The project's warnings: installed headers must compile cleanly under them.
WARNINGS = "-Wall -Wextra -Wpedantic -Werror -Wshadow -Wnon-virtual-dtor"
# "// Included by KaCTransformationNode.h; include that header instead." marks a header that
# is a part of another one (the nested iterator classes) and compiles only inside it.
FRAGMENT_MARK = re.compile(r"^// Included by (\S+\.h); include that header instead\.", re.M)


class CheckFailed(Exception):
    pass


def fail(message):
    raise CheckFailed(message)


def run(command, cwd=None, env=None, expect=0):
    """Runs `command`; returns (exit code, standard output, standard error). Fails unless the
    exit code is `expect` (None accepts any)."""
    result = subprocess.run(command, cwd=cwd, env=env, capture_output=True, text=True,
                            check=False)
    if expect is not None and result.returncode != expect:
        fail(f"{shlex.join(command)} exited with {result.returncode} (expected {expect})\n"
             f"--- stdout\n{result.stdout[-4000:]}--- stderr\n{result.stderr[-4000:]}")
    return result.returncode, result.stdout, result.stderr


def clean_environment():
    """The environment without anything that could point a program at the build tree."""
    env = dict(os.environ)
    for name in ("LD_LIBRARY_PATH", "LD_PRELOAD", "CPATH", "CPLUS_INCLUDE_PATH", "LIBRARY_PATH",
                 "CMAKE_PREFIX_PATH", "PKG_CONFIG_PATH", "NLOGC_LEVEL", "NLOGC_FILE"):
        env.pop(name, None)
    return env


class Installation:
    def __init__(self, arguments):
        self.source = os.path.realpath(arguments.source)
        self.build = os.path.realpath(arguments.build)
        self.work = os.path.realpath(arguments.work)
        self.prefix = os.path.join(self.work, "prefix")
        self.version = arguments.version
        self.major = self.version.split(".")[0]
        self.cmake = arguments.cmake
        self.cpack = arguments.cpack
        self.cxx = arguments.cxx
        self.generator = arguments.generator
        self.internal = sorted(h for h in arguments.internal.split(",") if h)
        # Relative to the prefix, as CMake installs them (GNUInstallDirs).
        self.relative_libdir = arguments.libdir
        self.relative_includedir = arguments.includedir
        self.libdir = os.path.join(self.prefix, self.relative_libdir)
        self.includedir = os.path.join(self.prefix, self.relative_includedir)
        self.program_runpath = "$ORIGIN/" + os.path.relpath(self.libdir,
                                                            os.path.join(self.prefix, "bin"))
        self.session = os.path.join(self.work, "session.ttree")
        self.python = arguments.python
        self.pythondir = (os.path.join(self.prefix, arguments.pythondir)
                          if arguments.pythondir else None)

    # --- install

    def install(self):
        shutil.rmtree(self.prefix, ignore_errors=True)
        os.makedirs(self.work, exist_ok=True)
        run([self.cmake, "--install", self.build, "--prefix", self.prefix])
        print(f"installed into {self.prefix}")

    # --- layout

    def layout(self):
        self.check_libraries()
        self.check_back_end()
        self.check_program()
        self.check_headers()
        self.check_version_header()
        self.check_cmake_package()
        self.check_pkgconfig_file()

    def dynamic_section(self, path):
        _, out, _ = run(["readelf", "-d", path])
        soname = re.search(r"\(SONAME\)\s+Library soname: \[(.*)\]", out)
        runpath = re.search(r"\((?:RUNPATH|RPATH)\)\s+Library r(?:un)?path: \[(.*)\]", out)
        return (soname.group(1) if soname else None), (runpath.group(1) if runpath else None)

    def check_libraries(self):
        for name in LIBRARIES:
            real = os.path.join(self.libdir, f"lib{name}.so.{self.version}")
            major = os.path.join(self.libdir, f"lib{name}.so.{self.major}")
            link = os.path.join(self.libdir, f"lib{name}.so")
            if not os.path.isfile(real) or os.path.islink(real):
                fail(f"{real} is missing or not a file")
            if os.readlink(major) != os.path.basename(real):
                fail(f"{major} does not point at {os.path.basename(real)}")
            if os.readlink(link) != os.path.basename(major):
                fail(f"{link} does not point at {os.path.basename(major)}")
            soname, runpath = self.dynamic_section(real)
            if soname != os.path.basename(major):
                fail(f"{real}: SONAME {soname}, expected {os.path.basename(major)}")
            if runpath != "$ORIGIN":
                fail(f"{real}: run path {runpath!r}, expected $ORIGIN")
        print(f"{len(LIBRARIES)} libraries with version {self.version}, SONAME version "
              f"{self.major} and run path $ORIGIN")

    def check_back_end(self):
        back_end = os.path.join(self.libdir, BACK_END)
        if not os.path.isfile(back_end) or os.path.islink(back_end):
            fail(f"the logging back end {back_end} is missing")
        logging = os.path.realpath(os.path.join(self.libdir, "liblogging.so"))
        if os.path.dirname(logging) != os.path.dirname(back_end):
            fail(f"{BACK_END} is not in the folder of {logging}, where the loggers look for it")
        _, symbols, _ = run(["readelf", "--dyn-syms", "--wide", back_end])
        exported = {line.split()[-1] for line in symbols.splitlines()
                    if " FUNC " in line and " GLOBAL " in line and " UND " not in line}
        missing = [name for name in BACK_END_ENTRY_POINTS if name not in exported]
        if missing:
            fail(f"{back_end} does not export {', '.join(missing)}")
        print(f"{BACK_END} beside liblogging.so, exporting its {len(BACK_END_ENTRY_POINTS)} "
              f"entry points")

    def check_program(self):
        program = os.path.join(self.prefix, "bin", "ttree")
        if not os.access(program, os.X_OK):
            fail(f"{program} is missing or not executable")
        _, runpath = self.dynamic_section(program)
        if runpath != self.program_runpath:
            fail(f"{program}: run path {runpath!r}, expected {self.program_runpath}")
        print(f"bin/ttree with run path {self.program_runpath}")

    def documented_internal_headers(self):
        """The internal headers docs/INSTALL.md lists after <!-- internal-headers -->."""
        with open(os.path.join(self.source, "docs", "INSTALL.md"), encoding="utf-8") as doc:
            text = doc.read()
        block = re.search(r"<!-- internal-headers -->\n((?:- .*\n)+)", text)
        if block is None:
            fail("docs/INSTALL.md has no list after <!-- internal-headers -->")
        return sorted(re.search(r"`([^`]+)`", line).group(1)
                      for line in block.group(1).splitlines())

    def source_headers(self):
        headers = []
        for root in HEADER_ROOTS:
            for directory, _, names in os.walk(os.path.join(self.source, root)):
                for name in names:
                    if name.endswith(".h"):
                        path = os.path.join(directory, name)
                        headers.append(os.path.relpath(path, self.source).replace(os.sep, "/"))
        return sorted(headers)

    def installed_headers(self):
        headers = []
        for directory, _, names in os.walk(self.includedir):
            for name in names:
                path = os.path.join(directory, name)
                headers.append(os.path.relpath(path, self.includedir).replace(os.sep, "/"))
        return sorted(headers)

    def check_headers(self):
        documented = self.documented_internal_headers()
        if documented != self.internal:
            fail("docs/INSTALL.md and cmake/Install.cmake name different internal headers:\n"
                 f"  only in docs/INSTALL.md: {sorted(set(documented) - set(self.internal))}\n"
                 f"  only in cmake/Install.cmake: {sorted(set(self.internal) - set(documented))}")
        source = self.source_headers()
        unknown = sorted(set(self.internal) - set(source))
        if unknown:
            fail(f"internal headers that do not exist: {unknown}")
        expected = sorted(set(source) - set(self.internal)) + [VERSION_HEADER]
        installed = self.installed_headers()
        missing = sorted(set(expected) - set(installed))
        extra = sorted(set(installed) - set(expected))
        if missing or extra:
            fail(f"installed headers differ from the public ones:\n  missing: {missing}\n"
                 f"  not public (internal or unknown): {extra}")
        for header in installed:
            with open(os.path.join(self.includedir, header), encoding="utf-8") as text:
                for number, line in enumerate(text, 1):
                    match = re.match(r'\s*#\s*include\s*"([^"]+)"', line)
                    if match and match.group(1) in self.internal:
                        fail(f"{header}:{number} includes the internal header {match.group(1)}")
        print(f"{len(installed)} headers installed: every public one and the version header, "
              f"none of the {len(self.internal)} internal ones")

    def check_version_header(self):
        with open(os.path.join(self.includedir, VERSION_HEADER), encoding="utf-8") as header:
            text = header.read()
        defines = dict(re.findall(r"^#define (TT_VERSION_\w+) (.+)$", text, re.M))
        major, minor, patch = self.version.split(".")
        expected = {"TT_VERSION_MAJOR": major, "TT_VERSION_MINOR": minor,
                    "TT_VERSION_PATCH": patch, "TT_VERSION_STRING": f'"{self.version}"'}
        for name, value in expected.items():
            if defines.get(name) != value:
                fail(f"{VERSION_HEADER}: {name} is {defines.get(name)!r}, expected {value!r}")
        clang_format = shutil.which("clang-format")
        if clang_format:
            # Formatted as the project's own headers are.
            run([clang_format, f"--style=file:{os.path.join(self.source, '.clang-format')}",
                 "--dry-run", "-Werror", os.path.join(self.includedir, VERSION_HEADER)])
        print(f"{VERSION_HEADER} says {self.version}")

    def check_cmake_package(self):
        folder = os.path.join(self.libdir, "cmake", "TransformationTree")
        for name in ("TransformationTreeConfig.cmake", "TransformationTreeConfigVersion.cmake",
                     "TransformationTreeTargets.cmake"):
            if not os.path.isfile(os.path.join(folder, name)):
                fail(f"{folder}/{name} is missing")
        for name in os.listdir(folder):
            with open(os.path.join(folder, name), encoding="utf-8") as text:
                content = text.read()
            for tree, what in ((self.build, "build"), (self.source, "source")):
                # The prefix may lie inside the build tree; strip it before looking.
                if tree in content.replace(self.prefix, "<prefix>"):
                    fail(f"{folder}/{name} names the {what} tree {tree}")
        print("CMake package TransformationTree, free of build and source paths")

    def pkgconfig(self, *arguments):
        env = clean_environment()
        env["PKG_CONFIG_PATH"] = os.path.join(self.libdir, "pkgconfig")
        _, out, _ = run(["pkg-config", *arguments, "transformationtree"], env=env)
        return out.strip()

    def check_pkgconfig_file(self):
        if self.pkgconfig("--modversion") != self.version:
            fail(f"transformationtree.pc does not give version {self.version}")
        include = [flag[2:] for flag in shlex.split(self.pkgconfig("--cflags"))
                   if flag.startswith("-I")]
        if [os.path.realpath(path) for path in include] != [self.includedir]:
            fail(f"transformationtree.pc: include folders {include}, expected {self.includedir}")
        libs = shlex.split(self.pkgconfig("--libs"))
        linked = {flag[2:] for flag in libs if flag.startswith("-l")}
        if not set(LIBRARIES) <= linked:
            fail(f"transformationtree.pc links {sorted(linked)}, not every library")
        library_dirs = [os.path.realpath(flag[2:]) for flag in libs if flag.startswith("-L")]
        if library_dirs != [self.libdir]:
            fail(f"transformationtree.pc: library folders {library_dirs}, expected {self.libdir}")
        print("transformationtree.pc points into the prefix")

    # --- building against the prefix

    def configure_and_build(self, source, build):
        shutil.rmtree(build, ignore_errors=True)
        run([self.cmake, "-S", source, "-B", build, "-G", self.generator,
             f"-DCMAKE_CXX_COMPILER={self.cxx}", f"-DCMAKE_PREFIX_PATH={self.prefix}",
             f"-DCMAKE_CXX_FLAGS={WARNINGS}", "-DCMAKE_EXPORT_COMPILE_COMMANDS=ON",
             "-DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF"], env=clean_environment())
        with open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8") as cache:
            found = re.search(r"^TransformationTree_DIR:PATH=(.*)$", cache.read(), re.M)
        if found is None or not os.path.realpath(found.group(1)).startswith(self.prefix + "/"):
            fail(f"{source}: find_package found TransformationTree at "
                 f"{found.group(1) if found else 'nowhere'}, not in {self.prefix}")
        self.check_include_paths(build)
        run([self.cmake, "--build", build, "-j", str(os.cpu_count() or 2)],
            env=clean_environment())

    def check_include_paths(self, build):
        """Every include folder of every compilation lies in the prefix."""
        with open(os.path.join(build, "compile_commands.json"), encoding="utf-8") as commands:
            entries = json.load(commands)
        if not entries:
            fail(f"{build}: nothing to compile")
        for entry in entries:
            words = shlex.split(entry["command"])
            for i, word in enumerate(words):
                path = None
                for flag in ("-I", "-isystem", "-iquote", "-idirafter"):
                    if word == flag:
                        path = words[i + 1]
                    elif word.startswith(flag) and len(word) > len(flag):
                        path = word[len(flag):]
                if path is not None and not os.path.realpath(path).startswith(self.prefix + "/"):
                    fail(f"{entry['file']} is compiled with include folder {path}, outside "
                         f"the prefix")

    def headers(self):
        project = os.path.join(self.work, "headers")
        units = os.path.join(project, "units")
        shutil.rmtree(project, ignore_errors=True)
        os.makedirs(units)
        headers = self.installed_headers()
        by_name = {}
        for header in headers:
            by_name.setdefault(os.path.basename(header), []).append(header)
        sources = []
        fragments = 0
        for number, header in enumerate(headers):
            with open(os.path.join(self.includedir, header), encoding="utf-8") as text:
                mark = FRAGMENT_MARK.search(text.read())
            lines = []
            if mark:
                parents = by_name.get(mark.group(1), [])
                if len(parents) != 1:
                    fail(f"{header} names {mark.group(1)} as the header that includes it; "
                         f"installed: {parents}")
                lines.append(f'#include "{parents[0]}"')
                fragments += 1
            lines.append(f'#include "{header}"')
            unit = os.path.join(units, f"unit{number:03d}.cpp")
            with open(unit, "w", encoding="utf-8") as out:
                out.write(f"// {header}\n" + "\n".join(lines) + "\n")
            sources.append(unit)
        with open(os.path.join(project, "CMakeLists.txt"), "w", encoding="utf-8") as out:
            out.write(
                "cmake_minimum_required(VERSION 3.20)\n"
                "project(header_check LANGUAGES CXX)\n"
                "find_package(TransformationTree 1.0 CONFIG REQUIRED)\n"
                'file(GLOB units "${CMAKE_CURRENT_SOURCE_DIR}/units/*.cpp")\n'
                "add_library(header_check OBJECT ${units})\n"
                "target_link_libraries(header_check PRIVATE TransformationTree::transformationtree)\n"
                "# -I instead of -isystem, so that warnings in the headers count\n"
                "set_target_properties(header_check PROPERTIES NO_SYSTEM_FROM_IMPORTED ON)\n")
        self.configure_and_build(project, os.path.join(project, "build"))
        print(f"{len(headers)} installed headers compile alone against the prefix "
              f"({fragments} of them inside the header that includes them)")

    def examples(self):
        source = os.path.join(self.work, "examples")
        shutil.rmtree(source, ignore_errors=True)
        # A copy away from the repository, as a user would take it.
        shutil.copytree(os.path.join(self.source, "examples"), source)
        programs = {}
        for name in EXAMPLES:
            build = os.path.join(self.work, "examples-build", name)
            self.configure_and_build(os.path.join(source, name), build)
            programs[name] = os.path.join(build, name)

        if os.path.exists(self.session):
            os.remove(self.session)
        env = clean_environment()
        env["NLOGC_LEVEL"] = "info"
        _, built, log = run([programs["build_session"], self.session], env=env)
        if not built.startswith(f"transformation tree library {self.version}\n"):
            fail(f"build_session does not report version {self.version}:\n{built}")
        written = scan_lines(built)
        if len(written) != EXAMPLE_SCANS:
            fail(f"build_session walked {len(written)} scans, expected {EXAMPLE_SCANS}:\n{built}")
        if f"read back {EXAMPLE_SCANS} scans" not in built:
            fail(f"build_session did not read its session back whole:\n{built}")
        # Its log line comes from the back end, which liblogging.so loads from its own folder.
        if "Example.BuildSession" not in log or "session written to" not in log:
            fail(f"no log line of the back end on standard error (is {BACK_END} installed "
                 f"beside liblogging.so?):\n{log}")

        _, info, _ = run([programs["session_info"], self.session], env=clean_environment())
        read = scan_lines(info)
        if read != written:
            fail("session_info reports other scans than build_session wrote:\n"
                 f"--- written\n{chr(10).join(written)}\n--- read\n{chr(10).join(read)}")
        if f"scans: {EXAMPLE_SCANS}\n" not in info or \
                "property application: build_session example" not in info:
            fail(f"session_info output is incomplete:\n{info}")
        missing = os.path.join(self.work, "no-such-session.ttree")
        _, _, error = run([programs["session_info"], missing], env=clean_environment(), expect=1)
        if "no-such-session.ttree" not in error:
            fail(f"session_info does not name the file it cannot read:\n{error}")
        print(f"examples built against the prefix; {EXAMPLE_SCANS} scans written and read back "
              f"alike, log line through the installed back end")

    def pkgconfig_build(self):
        if not os.path.exists(self.session):
            fail(f"{self.session} is missing (the examples test writes it)")
        out = os.path.join(self.work, "pkgconfig")
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)
        program = os.path.join(out, "session_info")
        source = os.path.join(self.source, "examples", "session_info", "session_info.cpp")
        command = [self.cxx, "-std=c++20", *WARNINGS.split(),
                   *shlex.split(self.pkgconfig("--cflags")), source, "-o", program,
                   *shlex.split(self.pkgconfig("--libs")), f"-Wl,-rpath,{self.libdir}"]
        run(command, env=clean_environment())
        _, info, _ = run([program, self.session], env=clean_environment())
        if f"scans: {EXAMPLE_SCANS}\n" not in info:
            fail(f"session_info built with pkg-config's flags reports:\n{info}")
        print("session_info built with the flags of transformationtree.pc alone, and runs")

    def ttree(self):
        if not os.path.exists(self.session):
            fail(f"{self.session} is missing (the examples test writes it)")
        program = os.path.join(self.prefix, "bin", "ttree")
        env = clean_environment()
        # The loader takes the project's libraries from the prefix (the run path), not from
        # the build tree or the system.
        _, ldd, _ = run(["ldd", program], env=env)
        for name in ("transformationtree", "logging", "harbor"):
            found = re.search(rf"lib{name}\.so\.{self.major} => (\S+)", ldd)
            if found is None or os.path.realpath(found.group(1)) != os.path.realpath(
                    os.path.join(self.libdir, f"lib{name}.so.{self.version}")):
                fail(f"ttree does not load lib{name} from {self.libdir}:\n{ldd}")
        _, info, _ = run([program, "info", self.session], env=env)
        if f"{EXAMPLE_SCANS} leaves" not in info:
            fail(f"ttree info does not see the {EXAMPLE_SCANS} scans:\n{info}")
        run([program, "verify", self.session], env=env)
        demo = os.path.join(self.work, "demo")
        shutil.rmtree(demo, ignore_errors=True)
        _, out, _ = run([program, "demo", "--scans", "4", "--out", demo], env=env)
        if not os.path.isfile(os.path.join(demo, "session.ttree")):
            fail(f"ttree demo wrote no session:\n{out}")
        print("the installed ttree runs: info, verify and demo")

    # --- The Python package

    def python_package(self):
        if not self.python or not self.pythondir:
            fail("--python and --pythondir name no interpreter and package folder")
        if not os.path.exists(self.session):
            fail(f"{self.session} is missing (the examples test writes it)")
        package = os.path.join(self.pythondir, "transformationtree")
        names = sorted(os.listdir(package)) if os.path.isdir(package) else []
        modules = [name for name in names if name.startswith("_core.") and name.endswith(".so")]
        for name in ("__init__.py", "_core.pyi", "py.typed"):
            if name not in names:
                fail(f"{package}/{name} is missing (the folder holds {names})")
        if len(modules) != 1:
            fail(f"{package} holds {len(modules)} extension modules: {names}")
        module = os.path.join(package, modules[0])
        expected = "$ORIGIN/" + os.path.relpath(self.libdir, package)
        _, runpath = self.dynamic_section(module)
        if runpath != expected:
            fail(f"{module}: run path {runpath!r}, expected {expected}")
        written = os.path.join(self.work, "python.ttree")
        if os.path.exists(written):
            os.remove(written)
        script = (
            "import sys, transformationtree as tt\n"
            "session = tt.read_session(sys.argv[1])\n"
            "leaves = session.root.leaves()\n"
            "points = sum(len(tt.transformed_points(leaf)) for leaf, _ in leaves)\n"
            "root = tt.create_root()\n"
            "for leaf, trafo in leaves:\n"
            "    m = leaf.model\n"
            "    root.add_scan(m.positions, m.normals, m.colours, m.qualities, trafo=trafo,\n"
            "                  description=leaf.description)\n"
            "root.create_model(cell_size=0.5)\n"
            "tt.write_session(sys.argv[2], root, {'created by': 'install test'})\n"
            "maps = open('/proc/self/maps').read()\n"
            "libraries = sorted({line.split()[-1] for line in maps.splitlines()\n"
            "                    if 'libtransformationtree.so' in line})\n"
            "print(tt.__file__, tt.__version__, len(leaves), points, libraries)\n")
        env = clean_environment()
        env.pop("PYTHONPATH", None)
        env["PYTHONPATH"] = self.pythondir
        env["PYTHONDONTWRITEBYTECODE"] = "1"
        # From the work folder, so that neither the source nor the build tree is importable.
        _, out, _ = run([self.python, "-c", script, self.session, written], cwd=self.work,
                        env=env)
        location, version, leaves, points, libraries = out.split(" ", 4)
        if not os.path.realpath(location).startswith(package + "/"):
            fail(f"imported transformationtree from {location}, not from {package}")
        if version != self.version:
            fail(f"the installed package says version {version}, expected {self.version}")
        if int(leaves) != EXAMPLE_SCANS or int(points) == 0:
            fail(f"the installed package read {leaves} scans with {points} points from "
                 f"{self.session}, expected {EXAMPLE_SCANS}")
        library = os.path.join(self.libdir, f"libtransformationtree.so.{self.version}")
        if libraries.strip() != repr([library]):
            fail(f"the installed package loaded {libraries.strip()}, expected {library}")
        program = os.path.join(self.prefix, "bin", "ttree")
        run([program, "verify", written], env=clean_environment())
        _, info, _ = run([program, "info", written], env=clean_environment())
        if f"{EXAMPLE_SCANS} leaves" not in info:
            fail(f"ttree info does not see the {EXAMPLE_SCANS} scans Python wrote:\n{info}")
        print(f"the installed Python package imports from {package} (run path {expected}), "
              f"reads {EXAMPLE_SCANS} scans, and writes a session ttree verifies")

    # --- Debian package

    def package(self):
        out = os.path.join(self.work, "deb")
        shutil.rmtree(out, ignore_errors=True)
        run([self.cpack, "-G", "DEB", "--config", os.path.join(self.build, "CPackConfig.cmake"),
             "-B", out])
        name = f"transformationtree-{self.version}-Linux.deb"
        deb = os.path.join(out, name)
        if not os.path.isfile(deb):
            fail(f"cpack made no {name} in {out}: {os.listdir(out)}")
        _, fields, _ = run(["dpkg-deb", "--field", deb, "Package", "Version", "Depends"])
        fields = dict(line.split(": ", 1) for line in fields.splitlines() if ": " in line)
        if fields.get("Package") != "transformationtree" or \
                fields.get("Version") != self.version:
            fail(f"{name}: fields {fields}")
        depends = {re.split(r"[ (]", item.strip())[0]
                   for item in fields.get("Depends", "").split(",")}
        # The C and C++ run time, and what the libraries and the program link privately.
        for needed in ("libc6", "libstdc++6", "libuuid1", "libtbb12", "libpng16-16"):
            if needed not in depends:
                fail(f"{name} does not depend on {needed}: Depends: {fields.get('Depends')}")
        _, listing, _ = run(["dpkg-deb", "--contents", deb])
        files = {line.split()[5].removeprefix(".") for line in listing.splitlines()}
        include = f"/usr/{self.relative_includedir}"
        lib = f"/usr/{self.relative_libdir}"
        expected = [f"{lib}/{BACK_END}", "/usr/bin/ttree",
                    f"{lib}/libtransformationtree.so.{self.version}",
                    f"{lib}/cmake/TransformationTree/TransformationTreeConfig.cmake",
                    f"{lib}/pkgconfig/transformationtree.pc", f"{include}/{VERSION_HEADER}"]
        if self.pythondir:
            package = "/usr/" + os.path.relpath(self.pythondir, self.prefix) + "/transformationtree"
            expected += [f"{package}/__init__.py", f"{package}/_core.pyi"]
        missing = [path for path in expected if path not in files]
        internal = [path for path in files if path.removeprefix(include + "/") in self.internal]
        if missing or internal:
            fail(f"{name}: missing {missing}; internal headers {internal}")
        print(f"{name}: Depends: {fields['Depends']}")


def scan_lines(output):
    return sorted(line for line in output.splitlines() if line.startswith("scan "))


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("command", choices=["install", "layout", "headers", "examples",
                                            "pkgconfig", "ttree", "python", "package"])
    parser.add_argument("--source", required=True, help="the repository")
    parser.add_argument("--build", required=True, help="the build folder to install from")
    parser.add_argument("--work", required=True, help="folder for the prefix and the builds")
    parser.add_argument("--version", required=True, help="the project's version, x.y.z")
    parser.add_argument("--internal", default="", help="internal headers, ','-separated")
    parser.add_argument("--libdir", default="lib", help="library folder below the prefix")
    parser.add_argument("--includedir", default="include/transformationtree-1",
                        help="include folder below the prefix")
    parser.add_argument("--cmake", default="cmake")
    parser.add_argument("--cpack", default="cpack")
    parser.add_argument("--cxx", default="c++", help="the C++ compiler for the applications")
    parser.add_argument("--generator", default="Ninja")
    parser.add_argument("--python", help="the interpreter the Python package is built for")
    parser.add_argument("--pythondir", help="the Python package's folder below the prefix")
    arguments = parser.parse_args(argv)
    installation = Installation(arguments)
    command = {"install": installation.install, "layout": installation.layout,
               "headers": installation.headers, "examples": installation.examples,
               "pkgconfig": installation.pkgconfig_build, "ttree": installation.ttree,
               "python": installation.python_package,
               "package": installation.package}[arguments.command]
    try:
        command()
    except CheckFailed as failure:
        print(f"check_install {arguments.command}: {failure}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
