# shot.tcl --
#
#	Sourced by the display tests in wish: shows a gimg image in a label of
#	its own toplevel and takes a screenshot of the label with xwd; the
#	numpy oracle (gimgOracle.py) then renders the same image with the same
#	options and compares the two, pixel for pixel (on palette screens
#	through the colours the screenshot's colormap gives each pixel).
#	Cases are collected and judged by one run of the oracle.

set ::gimgOracle [file join [file dirname [info script]] gimgOracle.py]
set ::screenDepth [winfo depth .]
set ::shots 0

# jsonString text --
#	text as a JSON string.
proc jsonString {text} {
    return "\"[string map {\\ \\\\ \" \\\"} $text]\""
}

# jsonStrings list --
#	A JSON array of the list's words.
proc jsonStrings {list} {
    return "\[[join [lmap w $list {jsonString $w}] ,]\]"
}

# showImage image --
#	Shows image in .shot.l and takes its screenshot; returns the xwd file.
proc showImage {image} {
    if {![winfo exists .shot]} {
        wm withdraw .
        toplevel .shot -bd 0 -highlightthickness 0
        wm geometry .shot +0+0
        label .shot.l -bd 0 -highlightthickness 0 -padx 0 -pady 0
        pack .shot.l
    }
    .shot.l configure -image $image
    update
    after 30
    update
    set file [scratch shot[incr ::shots].xwd]
    # Children run without the sanitizer runtime a sanitizer build preloads.
    exec env -u LD_PRELOAD xwd -id [winfo id .shot.l] -silent -out $file
    .shot.l configure -image {}
    return $file
}

# shootCase path options ?extra? ?script? --
#	Configures a new image on the fixture `path` with options (then runs
#	script with the image name in $img), takes its screenshot and returns
#	the oracle's case for it.  extra is JSON of settings the options do
#	not carry (channel lookups).
proc shootCase {path options {extra {}} {script {}}} {
    set img [image create gimg]
    try {
        $img configure -file $path {*}$options
        if {$script ne ""} {
            eval $script
        }
        set colours [llength [$img getIndices]]
        set xwd [showImage $img]
    } finally {
        image delete $img
    }
    oracleCase $path $options $xwd $colours $extra
}

# oracleCase path options xwd ?colours? ?extra? --
#	The JSON of one case.
proc oracleCase {path options xwd {colours 0} {extra {}}} {
    set image "{\"kind\": \"pil\", \"path\": [jsonString $path]"
    if {$colours > 0} {
        append image ", \"colours\": $colours"
    }
    append image "}"
    set desc "{\"image\": $image, \"options\": [jsonStrings $options],\
        \"depth\": $::screenDepth, \"xwd\": [jsonString $xwd]"
    if {$extra ne ""} {
        append desc ", \"extra\": $extra"
    }
    return "$desc}"
}

# judge cases --
#	The oracle's verdict on each case: "ok" or the differences.
proc judge {cases} {
    set file [scratch cases.json]
    writeBytes $file "\[[join $cases ,\n]\]"
    split [string trim [exec env -u LD_PRELOAD $::velkPython $::gimgOracle \
        compare-all $file]] \n
}
