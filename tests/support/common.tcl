# common.tcl --
#
#	Sourced by every tcltest file: loads tcltest and the package built in
#	this tree (VELK_LIB), and offers scratch files and fixture paths.
#	End a test file with `velkTestEnd`, which exits non-zero on failures.

package require tcltest 2
namespace import ::tcltest::*
configure -verbose {error}

if {![info exists ::env(VELK_LIB)]} {
    puts stderr "VELK_LIB is not set: run the tests through ctest"
    exit 2
}
if {[info commands rimage] eq "" && [info commands calc] eq ""} {
    load $::env(VELK_LIB) Velk
}

set ::velkTestSource [file normalize [file join [file dirname [info script]] ..]]

# Constraints of tests that use an independent tool as an oracle: they are
# skipped where the tool is not installed (the set-up installs none).
foreach {constraint program} {
    gdal gdalinfo imagemagick convert netpbm pnmtopnm dcmtk dcmdump
    libtiff tiffinfo
} {
    testConstraint $constraint [expr {[auto_execok $program] ne ""}]
}
testConstraint xwd [expr {[auto_execok xwd] ne ""}]

# The Python oracles run in Debian's interpreter, which has the packages the
# set-up installs (a python3 earlier on PATH may lack them).
set ::velkPython /usr/bin/python3
foreach {constraint module} {
    numpy numpy scipy scipy sklearn sklearn skimage skimage pil PIL
} {
    testConstraint $constraint [expr {[file executable $::velkPython]
        && ![catch {exec env -u LD_PRELOAD $::velkPython -c "import $module" 2>@1}]}]
}

# python script ?arg ...? --
#	Runs script in the oracle interpreter with the arguments; its standard
#	output, trimmed, is the result.  An exception is a Tcl error.
proc python {script args} {
    # The oracle runs without the sanitizer runtime a sanitizer build
    # preloads for the package (its leak report would fail the call).
    string trim [exec env -u LD_PRELOAD $::velkPython - {*}$args << $script]
}
set ::velkScratch [file join [temporaryDirectory] velk-[pid]]
file mkdir $::velkScratch

# scratch name --
#	A path in this test file's scratch directory.
proc scratch {name} {
    file join $::velkScratch $name
}

# fixture name --
#	A committed fixture file.
proc fixture {name} {
    file join $::velkTestSource fixtures $name
}

# readBytes path --
#	The file's bytes as a binary string.
proc readBytes {path} {
    set f [open $path rb]
    set data [read $f]
    close $f
    return $data
}

# writeBytes path data --
proc writeBytes {path data} {
    set f [open $path wb]
    puts -nonewline $f $data
    close $f
}

proc velkTestEnd {} {
    set failed $::tcltest::numTests(Failed)
    file delete -force $::velkScratch
    cleanupTests
    exit [expr {$failed > 0}]
}
