# workbench.tcl --
#
#	Starts the Velk workbench:
#
#	    wish app/workbench.tcl ?FILE ...?
#	    tclsh app/workbench.tcl ?-headless? ?-out DIR? ?-size N?
#
#	With a display (wish) the window opens on the files named, or on the
#	built-in sample scene when none is.  Without one (tclsh, or
#	-headless) the sample scene runs through statistics, classification
#	and clustering, and a report with PNG renderings is written to DIR
#	(default velk-workbench).  The package comes from the build folder
#	named by VELK_BUILD when set, else from the installed packages; its
#	script libraries (program.lib and the wb*.lib files) carry the
#	application.

if {[info exists env(VELK_BUILD)]} {
    set auto_path [linsert $auto_path 0 $env(VELK_BUILD)]
}
set velkAppScripts {program.lib wbCore.lib wbView.lib wbMain.lib
    wbAnalysis.lib wbPlot.lib wbHeadless.lib}

set headless [expr {[info commands winfo] eq ""}]
set outDir velk-workbench
set size 512
set files {}
for {set i 0} {$i < [llength $argv]} {incr i} {
    set word [lindex $argv $i]
    switch -- $word {
        -headless {set headless 1}
        -out {set outDir [lindex $argv [incr i]]}
        -size {set size [lindex $argv [incr i]]}
        default {lappend files $word}
    }
}
if {$headless && [info commands winfo] ne ""} {
    wm withdraw .
}

if {[catch {package require Velk} msg]} {
    puts stderr "workbench: $msg"
    exit 1
}

if {$headless} {
    if {[catch {::wb::headless $outDir $size} report]} {
        puts stderr "workbench: $report"
        exit 1
    }
    set f [open $report]
    puts [read -nonewline $f]
    close $f
    puts "\nReport and renderings are in [file dirname $report]"
    exit 0
}

::wb::mainWindow
if {[llength $files] == 0} {
    ::wb::do ::wb::openSample $size
} else {
    foreach path $files {
        if {[catch {::wb::do ::wb::show [file normalize $path]} msg]} {
            ::wb::message "cannot open $path: $msg"
        }
    }
}
