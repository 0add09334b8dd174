# modules.tcl --
#
#	Sourced after common.tcl by the analysis-module tests: the sample
#	scene they measure, and the Python oracle (oracle.py) run with a
#	test's own script appended.

set ::oracleText [readBytes [file join [file dirname [info script]] oracle.py]]

# oracle script ?arg ...? --
#	Runs oracle.py followed by script in the oracle interpreter.
proc oracle {script args} {
    python "$::oracleText\n$script" {*}$args
}

# sampleScene name rows columns bands --
#	Writes the deterministic sample scene (ERDAS 7.4, BYTE) once and
#	returns its path.
proc sampleScene {name rows columns bands} {
    set path [scratch $name]
    if {![file exists $path]} {
        rimage data -sample -out $path -rows $rows -columns $columns \
            -bands $bands
    }
    return $path
}
