# A pd-gui plug-in that checks the layout of the patch windows as the GUI draws them: it opens
# every subpatch shown as [pd name], waits until no new window has appeared for a while, then
# asks each canvas for the bounding box of every object, message, number box and comment and
# writes what lies over another or outside its window to a report, and quits Pd.
#
# It does nothing unless ATTACKSCOPE_LAYOUT_REPORT names the report file (tests/gui/layout.sh
# sets it). With ATTACKSCOPE_LAYOUT_SHOT it then saves the top-level patch's canvas as a PNG,
# after ATTACKSCOPE_LAYOUT_DSP_MS milliseconds of DSP when that is given, so that the example's
# number boxes show what it measured.

# pd-gui evaluates a plug-in's text rather than sourcing it, and sets current_plugin_loadpath.
source [file join $::current_plugin_loadpath layout_geometry.tcl]

namespace eval ::layout_check {
    variable seen {}
    variable requested {}
    variable quiet_polls 0
    # Two seconds without a new window: Pd opens a subpatch within a few event-loop turns, and
    # its scroll region is set when the window is idle.
    variable polls_to_wait 8
    variable poll_ms 250
}

proc ::layout_check::patch_windows {} {
    lmap w [winfo children .] {
        if {[winfo class $w] ne "PatchWindow"} continue
        set w
    }
}

# Pd tags each box's items with the box's own tag: the text with it alone, the border with an
# "R" after it, inlets and outlets with i0, o0... A box is then drawn where those items lie.
proc ::layout_check::canvas_boxes {c} {
    set order {}
    array set kind {}
    array set text {}
    array set rect {}
    foreach item [$c find all] {
        set tags [$c gettags $item]
        if {![regexp {^(.*\.t[0-9a-f]+)(R|[io][0-9]+)?$} [lindex $tags 0] -> base part]} {
            continue
        }
        if {![info exists rect($base)]} {
            lappend order $base
            set rect($base) ""
            set kind($base) ""
            set text($base) ""
        }
        if {$part eq "" && [$c type $item] eq "text"} {
            set kind($base) [lindex $tags 1]
            if {$kind($base) eq "text"} {set kind($base) comment}
            set text($base) [$c itemcget $item -text]
            set drawn [$c bbox $item]
        } else {
            set drawn [::layout_geometry::points_rect [$c coords $item]]
        }
        set rect($base) [::layout_geometry::union $rect($base) $drawn]
    }
    lmap base $order {
        if {$rect($base) eq ""} continue
        dict create kind $kind($base) text $text($base) rect $rect($base)
    }
}

# What a person sees of the canvas: its own size at the current scroll position, cut to the
# part of it inside the window.
proc ::layout_check::visible_area {w} {
    set c $w.c
    set width [expr {min([winfo width $c], [winfo width $w] - [winfo x $c])}]
    set height [expr {min([winfo height $c], [winfo height $w] - [winfo y $c])}]
    set left [$c canvasx 0]
    set top [$c canvasy 0]
    list $left $top [expr {$left + $width}] [expr {$top + $height}]
}

proc ::layout_check::window_name {w} {
    regsub {  - .*$} [wm title $w] "" name
    return $name
}

proc ::layout_check::poll {} {
    variable seen
    variable requested
    variable quiet_polls
    variable polls_to_wait
    variable poll_ms
    set fresh 0
    foreach w [patch_windows] {
        if {$w in $seen} continue
        lappend seen $w
        set fresh 1
        foreach name [::layout_geometry::subpatch_names [canvas_boxes $w.c]] {
            if {$name ni $requested} {
                lappend requested $name
                pdsend "pd-$name vis 1"
            }
        }
    }
    if {$fresh || [llength $seen] == 0} {
        set quiet_polls 0
    } else {
        incr quiet_polls
    }
    if {$quiet_polls < $polls_to_wait} {
        after $poll_ms ::layout_check::poll
        return
    }
    settle_scrollbars
    finish
}

# Pd sets a window's scroll region when the window is configured; when that happens before the
# window has its full size (it does now and then), needless scrollbars stay until the next
# change. Any edit or resize would set them right, so the check measures the settled window.
proc ::layout_check::settle_scrollbars {} {
    variable seen
    foreach pass {1 2} {
        foreach w $seen {
            catch {::pdtk_canvas::pdtk_canvas_getscroll $w.c}
        }
        update
    }
}

proc ::layout_check::finish {} {
    variable seen
    set lines [list "font: $::font_family $::font_weight"]
    set screen [list 0 0 [winfo screenwidth .] [winfo screenheight .]]
    set top ""
    foreach w $seen {
        set name [window_name $w]
        if {$top eq "" && [string match *.pd $name]} {set top $w}
        set boxes [canvas_boxes $w.c]
        set view [visible_area $w]
        lappend lines "window: $name [winfo width $w]x[winfo height $w]\
            visible {$view} boxes [llength $boxes]"
        lappend lines {*}[::layout_geometry::findings $name $boxes $view]
        set frame [list [winfo rootx $w] [winfo rooty $w] \
            [expr {[winfo rootx $w] + [winfo width $w]}] \
            [expr {[winfo rooty $w] + [winfo height $w]}]]
        set past [::layout_geometry::beyond $frame $screen]
        if {$past ne ""} {
            lappend lines "outside: $name: the window past the screen's edges ($past)"
        }
    }
    if {![info exists ::env(ATTACKSCOPE_LAYOUT_SHOT)] || $top eq ""} {
        report $lines
        return
    }
    set dsp_ms 0
    if {[info exists ::env(ATTACKSCOPE_LAYOUT_DSP_MS)]} {
        set dsp_ms $::env(ATTACKSCOPE_LAYOUT_DSP_MS)
    }
    if {$dsp_ms > 0} {
        pdsend "pd dsp 1"
    }
    after $dsp_ms [list ::layout_check::shoot $top $lines $dsp_ms]
}

proc ::layout_check::shoot {top lines dsp_ms} {
    if {[catch {screenshot $top $::env(ATTACKSCOPE_LAYOUT_SHOT)} message]} {
        lappend lines "error: screenshot: $message"
    }
    if {$dsp_ms > 0} {
        pdsend "pd dsp 0"
    }
    report $lines
}

proc ::layout_check::report {lines} {
    lappend lines "done"
    set f [open $::env(ATTACKSCOPE_LAYOUT_REPORT) w]
    puts $f [join $lines "\n"]
    close $f
    pdsend "pd quit"
}

# The patch's canvas as it shows on screen, raised above the subpatch windows that cover it.
proc ::layout_check::screenshot {w path} {
    raise $w
    update
    after 300
    update
    exec import -display $::env(DISPLAY) -window [winfo id $w.c] $path
}

if {[info exists ::env(ATTACKSCOPE_LAYOUT_REPORT)]} {
    after 500 ::layout_check::poll
}
