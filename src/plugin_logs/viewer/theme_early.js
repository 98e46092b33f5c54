// The early theme script: runs in the head, before the style sheet, so that the first paint
// already has the theme. The build joins its lines into one (see cmake/embed_page.cmake), so
// every statement ends in ";" or a brace. Each step is guarded on its own: a failure counts as
// an absent value.
(function(){
	var d=document.documentElement,t='',q='';
	try{q=String(location.search||'')}catch(e){}
	var m=/[?&]theme=(light|dark)/.exec(q);
	if(m)t=m[1];
	if(!t){
		try{
			var s=localStorage.getItem('zun_theme');
			if(s==='light'||s==='dark')t=s
		}catch(e){}
	}
	if(!t){
		try{t=window.matchMedia('(prefers-color-scheme: light)').matches?'light':'dark'}
		catch(e){t='dark'}
	}
	d.setAttribute('data-theme',t);
	try{if(/[?&]embed=(1|true)(&|$)/.test(q))d.classList.add('embedded')}catch(e){}
	try{localStorage.setItem('zun_theme',t)}catch(e){}
})();
