# tour.tcl --
#
#	A short session of the workbench on the built-in sample scene for the
#	README's pictures: the scene in false colour with four training
#	regions, then the Mahalanobis classification.  Screenshots (xwd,
#	converted with ImageMagick) go to the folder given as argument.
#
#	    wish scripts/tour.tcl FOLDER      (VELK_BUILD set, as for the demo)

set shots [file normalize [lindex $argv 0]]
set argv {}
source [file join [file dirname [info script]] .. app workbench.tcl]

proc shoot {name w} {
    update
    after 300
    update
    exec xwd -id [wm frame $w] -silent -out $::shots/$name.xwd
    exec convert $::shots/$name.xwd $::shots/$name.png
    file delete $::shots/$name.xwd
}

update
set v [::wb::current]
::wb::do ::wb::zoom $v fit
foreach {name box} $::wb::sampleClasses {
    ::wb::do ::wb::region $v $name rect $box
}
::wb::do ::wb::stretch $v percent 2.5
event generate $::wb::V($v,canvas) <Motion> -x 200 -y 150
shoot tour-main .
set out [::wb::do ::wb::classify $v -rule MAHALANOBIS -tshd 50]
set w [lindex [lsort [lsearch -all -inline [winfo children .] .result*]] end]
wm geometry $w +0+0
shoot tour-classes $w
exit
