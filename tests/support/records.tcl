# records.tcl --
#
#	Sourced after common.tcl by the tcltest files that open records:
#	closing what a test left open, options of a record or of the
#	defaults, and the outcomes of one command over many argument lists.

# closeAll --
#	Closes every script open of every record.
proc closeAll {} {
    foreach entry [rimage list all] {
        lassign $entry tag file opens
        for {set i 0} {$i < $opens} {incr i} {rimage close $tag}
    }
}

# cgets ?tag? option ... --
#	The values of the options of a record, or of the defaults when the
#	first word is an option.
proc cgets {args} {
    if {[string index [lindex $args 0] 0] eq "-"} {
        return [lmap o $args {rimage cget $o}]
    }
    set args [lassign $args tag]
    lmap o $args {rimage cget $tag $o}
}

# outcomes command argLists --
#	The command run with each list of arguments appended: a line each of
#	its return code and its result, if any, newlines in it shown as \n.
proc outcomes {command argLists} {
    join [lmap a $argLists {
        set code [catch {{*}$command {*}$a} msg]
        expr {$msg eq "" ? $code : "$code [string map {\n \\n} $msg]"}
    }] \n
}

# recordFile tag --
#	The record's pixels, for an oracle to read: an ERDAS 7.4 file of
#	bytes in the scratch directory, written by the rotate module
#	(so mirrored left to right).
proc recordFile {tag} {
    set file [scratch [string map {. _} $tag].lan]
    file delete $file
    lassign [lmap o {-columns -rows -nbands} {rimage cget $tag $o}] w h n
    rimage create -file $file -imgid E74 -columns $w -rows $h -nbands $n \
        -pixel BYTE
    rimage rotate -in $tag -out $file -dir XFLIP
    return $file
}
