# demo.tcl --
#
#	The main job: writes Velk's built-in synthetic sample scene (512 x
#	512 pixels, 4 BYTE bands: blue, green, red, near infrared) as an
#	ERDAS 7.4 file, creates small band-sequential, by-line and by-pixel
#	raw files through `rimage create`, opens everything through
#	`rimage open`, and prints `rimage list all` and the scene's
#	`rimage hist -list stats`.  Runs in tclsh (headless) and in wish.
#
#	    tclsh app/demo.tcl ?outputDirectory?
#
#	The package is taken from the build directory named by VELK_BUILD
#	when set, else from the installed packages.  The output directory
#	defaults to velk-demo in the current directory.

if {[info exists env(VELK_BUILD)]} {
    set auto_path [linsert $auto_path 0 $env(VELK_BUILD)]
}
package require Velk

set outDir [expr {[llength $argv] > 0 ? [lindex $argv 0] : "velk-demo"}]
file mkdir $outDir
set outDir [file normalize $outDir]

# demoRun script --
#	Evaluates script and ends the job with a message when it fails.
proc demoRun {script} {
    if {[catch {uplevel 1 $script} result]} {
        puts stderr "demo: $result"
        exit 1
    }
    return $result
}

set scene [file join $outDir scene.lan]
puts "Writing the sample scene to $scene"
demoRun {rimage data -sample -out $scene -rows 512 -columns 512 -bands 4}

# Small raw files of each interleaving, described by the defaults.
set raws {}
foreach {type name} {BSQ small.bsq BIL small.bil BIP small.bip} {
    set path [file join $outDir $name]
    set ok [demoRun {rimage create overwrite -file $path -imgid $type \
                         -pixel BYTE -nbands 3 -rows 64 -columns 64}]
    if {!$ok} {
        puts stderr "demo: could not create $path"
        exit 1
    }
    lappend raws $path
}

set tags {}
foreach path [linsert $raws 0 $scene] {
    lappend tags [demoRun {rimage open $path}]
}
set sceneTag [lindex $tags 0]

puts "\nrimage list all:"
foreach entry [rimage list all] {
    lassign $entry tag file opens links clients
    puts [format "  %-8s %-40s opens %d links %d clients %d" \
              $tag [file tail $file] $opens $links $clients]
}

puts "\nrimage hist -imgid $sceneTag -list stats (std mean min max per band):"
set band 0
if {[catch {rimage hist -imgid $sceneTag -list stats} stats]} {
    puts "  (no statistics: $stats)"
    set stats {}
}
foreach s $stats {
    incr band
    lassign $s std mean min max
    puts [format "  band %d  std %9.4f  mean %9.4f  min %9.4f  max %9.4f" \
              $band $std $mean $min $max]
}

foreach tag $tags {
    rimage close $tag
}
puts "\nFiles are in $outDir"
exit 0
