/* The viewer page writer: constant blocks, the back link the only choice. */
#include <string.h>

#include "plugin_logs/plugin_logs.h"
#include "page.h"

static const char page_header[] =
	"Content-Type: text/html; charset=utf-8\r\n"
	"Cache-Control: no-store\r\n"
	"X-Content-Type-Options: nosniff\r\n"
	"\r\n";

/* The early theme script runs before the style sheet so the first paint has the right theme. */
static const char page_head_open[] =
	"<!DOCTYPE html>\n"
	"<html lang='en'><head><meta charset='utf-8'>"
	"<meta name='viewport' content='width=device-width,initial-scale=1'>"
	"<title>logs</title>"
	"<script>(function(){var d=document.documentElement,t='',q='';"
	"try{q=String(location.search||'')}catch(e){}"
	"var m=/[?&]theme=(light|dark)/.exec(q);if(m)t=m[1];"
	"if(!t){try{var s=localStorage.getItem('zun_theme');if(s==='light'||s==='dark')t=s}"
	"catch(e){}}"
	"if(!t){try{t=window.matchMedia('(prefers-color-scheme: light)').matches?'light':'dark'}"
	"catch(e){t='dark'}}"
	"d.setAttribute('data-theme',t);"
	"try{if(/[?&]embed=(1|true)(&|$)/.test(q))d.classList.add('embedded')}catch(e){}"
	"try{localStorage.setItem('zun_theme',t)}catch(e){}"
	"})();</script>\n"
	"<style>";

/* The bridge: the host frame and the theme button change the theme only through here. */
static const char page_head_close[] =
	"</style></head>"
	"<script>(function(){var d=document.documentElement;"
	"window.wqTheme=function(){var t=d.getAttribute('data-theme');"
	"return t==='light'||t==='dark'?t:'dark'};"
	"window.wqApplyTheme=function(t){if(t!=='light'&&t!=='dark')return;"
	"if(d.getAttribute('data-theme')===t)return;d.setAttribute('data-theme',t);"
	"try{localStorage.setItem('zun_theme',t)}catch(e){}"
	"try{window.dispatchEvent(new CustomEvent('zun-theme',{detail:t}))}catch(e){}};"
	"window.addEventListener('message',function(e){var m=e.data;"
	"if(m&&typeof m==='object'&&m.type==='wq-theme')window.wqApplyTheme(m.theme)});"
	"try{if(window.parent&&window.parent!==window)"
	"window.parent.postMessage({type:'wq-theme-request'},'*')}catch(e){}"
	"})();</script>\n"
	"<body><div class='wrap'>";

static const char page_back_link[] =
	"<div class='top'><a href='/' style='color:var(--accent);text-decoration:none;"
	"font-weight:600'>&larr; Back to Zun</a></div>";

static const char page_body[] =
	"<div class='top'><h1 class='title'>logs</h1>"
	"<span class='sub' id='pSrc'>&mdash;</span><span class='spacer'></span>"
	"<span class='pill paused' id='pState'>paused</span>"
	"<button class='ghost sm embed-hide' id='btnTheme' type='button'>Theme</button></div>"
	"<div class='panel'><div class='loghead'>"
	"<select id='srcSel' title='Log source'><option value=''>&mdash;</option></select>"
	"<div class='seg' id='segLines'><button type='button' data-n='100'>100</button>"
	"<button type='button' data-n='200' class='on'>200</button>"
	"<button type='button' data-n='500'>500</button>"
	"<button type='button' data-n='2000'>2000</button></div>"
	"<button type='button' id='btnFollow' class='on'>Follow</button>"
	"<input type='text' id='q' placeholder='Search in this source'>"
	"<button type='button' id='btnSearch' class='sm'>Search</button>"
	"<button type='button' id='btnWrap' class='ghost sm'>Wrap</button>"
	"<button type='button' id='btnCopy' class='ghost sm'>Copy</button>"
	"<button type='button' id='btnReload' class='ghost sm'>Reload</button></div>"
	"<div class='log' id='log'><div class='empty' id='empty'>Loading sources\xe2\x80\xa6</div></div>"
	"<div class='foot'><span id='fCount'>0 entries</span><span class='spacer'></span>"
	"<span id='fNote'>local read only &middot; zero network</span></div></div>"
	"<div class='foot' style='border:0;padding:0'><span class='muted'>Reads an allowlist of "
	"local log files and the local system journal. Every source is read-only; nothing is "
	"written, and no request leaves this node.</span></div>"
	"<script>";

static const char page_end[] = "</script></div></body></html>\n";

static void put(const char *text)
{
	out_write(text, strlen(text));
}

int mode_html(int embedded)
{
	put(page_header);
	put(page_head_open);
	put(page_style);
	put(page_head_close);
	if (!embedded)
		put(page_back_link);
	put(page_body);
	put(page_script);
	put(page_end);
	return 0;
}
