// The theme bridge: the host frame and the theme button change the theme only through here.
// The build joins its lines into one (see cmake/embed_page.cmake), so every statement ends in
// ";" or a brace.
(function(){
	var d=document.documentElement;
	window.wqTheme=function(){
		var t=d.getAttribute('data-theme');
		return t==='light'||t==='dark'?t:'dark'
	};
	window.wqApplyTheme=function(t){
		if(t!=='light'&&t!=='dark')return;
		if(d.getAttribute('data-theme')===t)return;
		d.setAttribute('data-theme',t);
		try{localStorage.setItem('zun_theme',t)}catch(e){}
		try{window.dispatchEvent(new CustomEvent('zun-theme',{detail:t}))}catch(e){}
	};
	// Any sender may set the theme: the message carries nothing but a theme name.
	window.addEventListener('message',function(e){
		var m=e.data;
		if(m&&typeof m==='object'&&m.type==='wq-theme')window.wqApplyTheme(m.theme)
	});
	try{
		if(window.parent&&window.parent!==window)
			window.parent.postMessage({type:'wq-theme-request'},'*')
	}catch(e){}
})();
