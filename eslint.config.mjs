// Lints the viewer page's scripts: ESLint's recommended rules, browser globals.
//
// The client script is several files that the build joins inside one function (page.html names
// them in order, in the script element of the body; see cmake/embed_page.cmake). Each file is
// linted on its own, so each learns the top-level names of the others as globals: a name that
// no file declares is still undefined (no-undef), one declared twice is a redeclaration
// (no-redeclare), and a top-level name that no file uses is still unused (no-unused-vars).
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import js from '@eslint/js';
import globals from 'globals';

const VIEWER = path.join(path.dirname(fileURLToPath(import.meta.url)), 'src/plugin_logs/viewer');
const VIEWER_GLOB = 'src/plugin_logs/viewer/';

// The files of the client script, in the order page.html names them.
function clientFiles() {
  const html = fs.readFileSync(path.join(VIEWER, 'page.html'), 'utf8');
  const body = html.slice(html.indexOf('<body'));
  const m = /<script src='([^']+)'><\/script>/.exec(body);
  return m ? m[1].split(' ') : [];
}

// Top-level declarations stand at the start of a line: "function name(" or "var name".
function topLevelNames(text) {
  return [...text.matchAll(/^(?:function\s+|var\s+)([A-Za-z_$][\w$]*)/gm)].map((m) => m[1]);
}

function clientConfigs() {
  const files = clientFiles().map((name) => {
    const text = fs.readFileSync(path.join(VIEWER, name), 'utf8');
    return { name, text, names: topLevelNames(text) };
  });
  return files.map((f) => {
    const others = files.filter((o) => o !== f);
    const shared = {};
    for (const o of others) for (const n of o.names) shared[n] = 'readonly';
    // Names this file declares for the others: used when another file mentions them.
    const lent = f.names.filter((n) => others.some((o) =>
      new RegExp('(^|[^\\w$.])' + n.replace(/\$/g, '\\$') + '(?![\\w$])').test(o.text)));
    const escaped = lent.map((n) => n.replace(/\$/g, '\\$'));
    return {
      files: [VIEWER_GLOB + f.name],
      languageOptions: {
        globals: { ...globals.browser, ...shared },
        parserOptions: { ecmaFeatures: { impliedStrict: true } },
      },
      rules: {
        'no-unused-vars': ['error', {
          vars: 'all',
          varsIgnorePattern: escaped.length ? '^(' + escaped.join('|') + ')$' : '^$',
        }],
      },
    };
  });
}

export default [
  {
    files: [VIEWER_GLOB + '**/*.js'],
    ...js.configs.recommended,
    languageOptions: {
      ecmaVersion: 2020,
      sourceType: 'script',
      globals: globals.browser,
    },
  },
  ...clientConfigs(),
  {
    // The theme scripts run before the first paint and treat every failure as an absent
    // value, so their catches are empty on purpose.
    files: [VIEWER_GLOB + 'theme_*.js'],
    rules: {
      'no-empty': ['error', { allowEmptyCatch: true }],
      'no-unused-vars': ['error', { caughtErrors: 'none' }],
    },
  },
];
