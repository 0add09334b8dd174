# basicRaster.tcl --
#
#	Sourced after common.tcl by the module tests: BSQ files with the
#	BASIC header whose pixels a numpy oracle writes and reads
#	(basicraster.py), so inputs and results pass between Velk and numpy
#	through the file layout alone.

# basicFile name pixel bands rows columns ?option value ...? --
#	A new zero-filled BSQ file in the scratch directory (cells 1 x 1
#	unless the `rimage create` options say otherwise); its path.
proc basicFile {name pixel bands rows columns args} {
    set f [scratch $name]
    file delete $f
    rimage create overwrite -file $f -imgid BSQ -pixel $pixel \
        -nbands $bands -rows $rows -columns $columns -msbf 0 -offset 860 \
        -mapid GRID -dx 1 -dy 1 -nindices 0 {*}$args
    return $f
}

# oracle script ?arg ...? --
#	Runs a Python script with numpy as np, sys, and basicraster as br.
proc oracle {script args} {
    set support [file join $::velkTestSource support]
    python "import sys, numpy as np\nsys.path.insert(0, '$support')\nimport basicraster as br\nargv = sys.argv\[1:\]\n$script" {*}$args
}
